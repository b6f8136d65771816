#include "discovery/adapter_report.h"

#include <cstdio>

#include "exec/command_runner.h"
#include "discovery/adapter_blocks.h"
#include "state/run_state.h"
#include "text/messages.h"

namespace {

constexpr int kReportSettleMs = 2000;             // the adapter tool may still be writing
constexpr int kNt4 = -1;                          // keep the initial (Windows NT 4.0) column

const PlatformRow kWindows98 = {MSG_OS_WIN98, CMD_WINIPCFG_98, LABEL_MAC_98, LABEL_IP_98,
                                27, 32, kNt4, &ENGLISH_MARKERS};
const PlatformRow kWindows95 = {MSG_OS_WIN95, CMD_WINIPCFG_95, LABEL_MAC_95, LABEL_IP_95,
                                24, 29, kNt4, &ENGLISH_MARKERS};
const PlatformRow kWindowsNt4 = {MSG_OS_NT4, CMD_IPCONFIG, LABEL_MAC_NT, LABEL_IP_NT,
                                 kNt4, kNt4, kNt4, &ENGLISH_MARKERS};
const PlatformRow kWindows2000 = {MSG_OS_WIN2000, CMD_IPCONFIG, LABEL_MAC_NT, LABEL_IP_NT,
                                  37, 37, 18, &ENGLISH_MARKERS};
const PlatformRow kWindowsXp = {MSG_OS_XP, CMD_IPCONFIG, LABEL_MAC_NT, LABEL_IP_NT,
                                44, 44, 18, &ENGLISH_MARKERS};
// Version 5.2 prints like XP, but indents its labels less: values at column 39.
const PlatformRow kWindows2003 = {MSG_OS_XP, CMD_IPCONFIG, LABEL_MAC_NT, LABEL_IP_NT,
                                  39, 39, 18, &ENGLISH_MARKERS};

// From version 6 on a value follows its label's colon, which stands where the
// report's language and layout put it, and nbtstat's MAC follows "= "; the
// columns give the English layout (and the blanks of the MAC line written for
// an adapter without a MAC).
constexpr int kModernColumn = 39;
constexpr int kModernNbtMacColumn = 18;
constexpr int32_t kJapanesePingNameColumn = 0;  // the name or address starts the line
const char kAdapterValueMark[] = ":";
const char kNbtMacValueMark[] = "= ";
const ReportMarkers kModernEnglishMarkers = {MARKER_PINGING, PING_NAME_COLUMN, MARKER_DYNAMIC,
                                             MARKER_NBT_MAC, kAdapterValueMark, kNbtMacValueMark};
const ReportMarkers kModernJapaneseMarkers = {MARKER_PINGING_JA, kJapanesePingNameColumn,
                                              MARKER_DYNAMIC_JA, MARKER_NBT_MAC_JA,
                                              kAdapterValueMark, kNbtMacValueMark};
const PlatformRow kModernEnglish = {nullptr, CMD_IPCONFIG, LABEL_MAC_MODERN_EN,
                                    LABEL_IP_MODERN_EN, kModernColumn, kModernColumn,
                                    kModernNbtMacColumn, &kModernEnglishMarkers};
const PlatformRow kModernJapanese = {nullptr, CMD_IPCONFIG, LABEL_MAC_MODERN_JA,
                                     LABEL_IP_MODERN_JA, kModernColumn, kModernColumn,
                                     kModernNbtMacColumn, &kModernJapaneseMarkers};

struct VersionNames {
    uint32_t Major;
    uint32_t Minor;
    const char* Workstation;
    const char* Server;
};

const VersionNames kVersionNames[] = {
    {6, 0, OS_NAME_VISTA, OS_NAME_SERVER_2008},
    {6, 1, OS_NAME_7, OS_NAME_SERVER_2008_R2},
    {6, 2, OS_NAME_8, OS_NAME_SERVER_2012},
    {6, 3, OS_NAME_8_1, OS_NAME_SERVER_2012_R2},
};

// Version 10.0 tells its releases apart by the build alone.
constexpr uint32_t kFirstWindows11Build = 22000;
constexpr uint32_t kFirstServer2025Build = 26100;

struct ServerBuild {
    uint32_t Build;
    const char* Name;
};

const ServerBuild kServerBuilds[] = {
    {14393, OS_NAME_SERVER_2016},
    {17763, OS_NAME_SERVER_2019},
    {20348, OS_NAME_SERVER_2022},
};

const char* ServerOfVersion10(uint32_t build) {
    if (build >= kFirstServer2025Build) return OS_NAME_SERVER_2025;
    for (const ServerBuild& server : kServerBuilds) {
        if (server.Build == build) return server.Name;
    }
    return OS_NAME_SERVER;
}

// The fixed name of the version, or nullptr for a version without one.
const char* FixedNameOf(const PlatformVersion& version) {
    if (version.MajorVersion == 10 && version.MinorVersion == 0) {
        if (version.IsServer) return ServerOfVersion10(version.BuildNumber);
        return version.BuildNumber >= kFirstWindows11Build ? OS_NAME_11 : OS_NAME_10;
    }
    for (const VersionNames& names : kVersionNames) {
        if (names.Major == version.MajorVersion && names.Minor == version.MinorVersion) {
            return version.IsServer ? names.Server : names.Workstation;
        }
    }
    return nullptr;
}

void SetColumn(int32_t* column, int value) {
    if (value != kNt4) *column = value;
}

// Only the tools from version 6 on print in the console's language, so only
// their version asks for its code page.
uint32_t ReportCodePageOf(const PlatformVersion& version) {
    return IsVersion6OrLater(version) ? PlatformGetReportCodePage() : 0;
}

// The adapter tools before version 6 may return before their report is all
// written; from version 6 on, and where the platform sees the report whole,
// the run goes straight on.
bool ReportNeedsSettling(const PlatformVersion& version, const char* report) {
    return !IsVersion6OrLater(version) && PlatformReportMayStillBeWritten(report);
}

// A report that could not be written, or an adapter tool that failed (the
// stand-in's tools when they cannot see the network: no ICMP socket, a
// network file that cannot be read, interfaces that cannot be listed), would
// pass for a machine without an address: the run ends without an inventory.
void EndRunIfAdapterToolFailed(int status) {
    EndRunIfWorkFileLost();
    if (status == 0) return;
    ConsolePrint(MSG_ADAPTER_TOOL_FAILED, status);
    RemoveWorkFolder();
    PlatformExit(EXIT_NO_INVENTORY);
}

void PrintPlatformLine(const PlatformRow& platform, const PlatformVersion& version) {
    if (platform.PrintedLine != nullptr) {
        ConsolePrint("%s", platform.PrintedLine);
        return;
    }
    char name[sizeof "Windows Server 4294967295.4294967295"];
    ModernWindowsName(version, name, sizeof name);
    ConsolePrint(MSG_OS_MODERN, name);
}

}  // namespace

void ModernWindowsName(const PlatformVersion& version, char* name, size_t size) {
    const char* fixed = FixedNameOf(version);
    if (fixed != nullptr) {
        std::snprintf(name, size, "%s", fixed);
        return;
    }
    std::snprintf(name, size, version.IsServer ? OS_NAME_SERVER_NUMBERED : OS_NAME_NUMBERED,
                  static_cast<unsigned>(version.MajorVersion),
                  static_cast<unsigned>(version.MinorVersion));
}

const PlatformRow* FindPlatformRow(const PlatformVersion& version, uint32_t report_code_page) {
    if (IsWin95Family(version)) {
        return version.MinorVersion == 10 ? &kWindows98 : &kWindows95;
    }
    if (version.MajorVersion == 4) return &kWindowsNt4;
    if (version.MajorVersion == 5) {
        if (version.MinorVersion == 0) return &kWindows2000;
        return version.MinorVersion == 2 ? &kWindows2003 : &kWindowsXp;
    }
    if (IsVersion6OrLater(version)) {
        return report_code_page == CODE_PAGE_JAPANESE ? &kModernJapanese : &kModernEnglish;
    }
    return nullptr;
}

void CaptureAdapterReport() {
    PrepareWorkFiles();
    PlatformVersion version{};
    if (!PlatformGetVersion(&version)) {
        ConsolePrint("%s", MSG_VERSION_ERROR);
        RemoveWorkFolder();
        PlatformExit(1);
    }
    const PlatformRow* platform = FindPlatformRow(version, ReportCodePageOf(version));
    if (platform == nullptr) return;
    PrintPlatformLine(*platform, version);

    const auto& paths = State.Files.Path;
    CommandLine command;
    CommandStart(&command, platform->CommandText);
    CommandAppendPath(&command, paths[WF_ADAPTER_REPORT]);
    EndRunIfAdapterToolFailed(RunCommand(command.Text));
    if (ReportNeedsSettling(version, paths[WF_ADAPTER_REPORT])) PlatformWait(kReportSettleMs);

    SetColumn(&State.Columns.MacColumn, platform->MacColumn);
    SetColumn(&State.Columns.IpColumn, platform->IpColumn);
    SetColumn(&State.Columns.NbtMacColumn, platform->NbtMacColumn);
    State.Markers = *platform->Markers;
    // One MAC line per IP line, so the own-host stage can pair them by number;
    // an address without a MAC in its block gets an empty one.
    WriteBlockMacLines(paths[WF_ADAPTER_REPORT], platform->MacLabel, platform->IpLabel,
                       State.Columns.MacColumn, paths[WF_ADAPTER_MAC_LINES]);
    FilterLines(paths[WF_ADAPTER_REPORT], platform->IpLabel, paths[WF_ADAPTER_IP_LINES]);
    // Lines lost to a full disk would pass for a machine without an address,
    // which ends the run in the own-host stage with status 0.
    EndRunIfWorkFileLost();
}
