// Adapter report capture: the platform probe, the report columns, and the
// adapter report split into its MAC lines and IP lines (work files 0 to 2).
#pragma once

#include "platform/platform.h"

#include <cstddef>

#include "state/run_state.h"

// What differs between the platforms that Qarvik knows.
struct PlatformRow {
    const char* PrintedLine;  // nullptr: the version's name is printed (version 6 on)
    const char* CommandText;  // followed directly by the path of work file 0
    const char* MacLabel;
    const char* IpLabel;
    int MacColumn;
    int IpColumn;
    int NbtMacColumn;
    const ReportMarkers* Markers;
};

// The row of the given version, or nullptr for a platform outside the table.
// Versions 6 and later take one of two rows, by the console's code page.
const PlatformRow* FindPlatformRow(const PlatformVersion& version, uint32_t report_code_page);

// The name of a version from 6 on ("Windows 10", "Windows Server 2019"), as
// much as size holds.
void ModernWindowsName(const PlatformVersion& version, char* name, size_t size);

// Makes the work folder first (PrepareWorkFiles). Ends the process with status
// 1, the work folder removed, when the platform version cannot be read.
void CaptureAdapterReport();
