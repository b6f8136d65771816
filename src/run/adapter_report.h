// Adapter report capture: the platform probe, the report columns, and the
// adapter report split into its MAC lines and IP lines (work files 0 to 2).
#pragma once

#include "platform/platform.h"

// What differs between the platforms that Qarvik knows.
struct PlatformRow {
    const char* PrintedLine;
    const char* CommandText;  // followed directly by the path of work file 0
    const char* MacLabel;
    const char* IpLabel;
    int MacColumn;
    int IpColumn;
    int NbtMacColumn;
};

// The row of the given version, or nullptr for a platform outside the table.
const PlatformRow* FindPlatformRow(const PlatformVersion& version);

// Makes the work folder first (PrepareWorkFiles). Ends the process with status
// 1, the work folder removed, when the platform version cannot be read.
void CaptureAdapterReport();
