#include "run/adapter_report.h"

#include "exec/command_runner.h"
#include "run/adapter_blocks.h"
#include "run/run_state.h"
#include "text/messages.h"

namespace {

constexpr uint32_t kWin95FamilyBit = 0x04000000;  // in the build number's high word
constexpr int kReportSettleMs = 2000;             // the adapter tool may still be writing
constexpr int kNt4 = -1;                          // keep the initial (Windows NT 4.0) column

const PlatformRow kWindows98 = {MSG_OS_WIN98, CMD_WINIPCFG_98, LABEL_MAC_98, LABEL_IP_98,
                                27, 32, kNt4};
const PlatformRow kWindows95 = {MSG_OS_WIN95, CMD_WINIPCFG_95, LABEL_MAC_95, LABEL_IP_95,
                                24, 29, kNt4};
const PlatformRow kWindowsNt4 = {MSG_OS_NT4, CMD_IPCONFIG, LABEL_MAC_NT, LABEL_IP_NT,
                                 kNt4, kNt4, kNt4};
const PlatformRow kWindows2000 = {MSG_OS_WIN2000, CMD_IPCONFIG, LABEL_MAC_NT, LABEL_IP_NT,
                                  37, 37, 18};
const PlatformRow kWindowsXp = {MSG_OS_XP, CMD_IPCONFIG, LABEL_MAC_NT, LABEL_IP_NT,
                                44, 44, 18};
// Version 5.2 prints like XP, but indents its labels less: values at column 39.
const PlatformRow kWindows2003 = {MSG_OS_XP, CMD_IPCONFIG, LABEL_MAC_NT, LABEL_IP_NT,
                                  39, 39, 18};

void SetColumn(int32_t* column, int value) {
    if (value != kNt4) *column = value;
}

}  // namespace

const PlatformRow* FindPlatformRow(const PlatformVersion& version) {
    if ((version.BuildNumber & kWin95FamilyBit) != 0) {
        return version.MinorVersion == 10 ? &kWindows98 : &kWindows95;
    }
    if (version.MajorVersion == 4) return &kWindowsNt4;
    if (version.MajorVersion == 5) {
        if (version.MinorVersion == 0) return &kWindows2000;
        return version.MinorVersion == 2 ? &kWindows2003 : &kWindowsXp;
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
    const PlatformRow* platform = FindPlatformRow(version);
    if (platform == nullptr) return;
    ConsolePrint("%s", platform->PrintedLine);

    const auto& paths = State.Files.Path;
    CommandLine command;
    CommandStart(&command, platform->CommandText);
    CommandAppendPath(&command, paths[WF_ADAPTER_REPORT]);
    RunCommand(command.Text);
    PlatformWait(kReportSettleMs);

    SetColumn(&State.Columns.MacColumn, platform->MacColumn);
    SetColumn(&State.Columns.IpColumn, platform->IpColumn);
    SetColumn(&State.Columns.NbtMacColumn, platform->NbtMacColumn);
    // One MAC line per IP line, so the own-host stage can pair them by number;
    // an address without a MAC in its block gets an empty one.
    WriteBlockMacLines(paths[WF_ADAPTER_REPORT], platform->MacLabel, platform->IpLabel,
                       State.Columns.MacColumn, paths[WF_ADAPTER_MAC_LINES]);
    FilterLines(paths[WF_ADAPTER_REPORT], platform->IpLabel, paths[WF_ADAPTER_IP_LINES]);
}
