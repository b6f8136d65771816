// The program's entry: banner, settings, adapter report, the stages of the mode
// framed by their progress lines, the response file, the work files deleted
// and their folder removed.
#include "discovery/computer_names.h"
#include "discovery/netbeui.h"
#include "discovery/other_hosts.h"
#include "discovery/own_host.h"
#include "exec/command_runner.h"
#include "platform/platform.h"
#include "report/response_file.h"
#include "discovery/adapter_report.h"
#include "state/command_line.h"
#include "run/run_driver.h"
#include "state/run_state.h"
#include "text/messages.h"

namespace {

// A stage framed by its ProgressLine pair.
// The run ends after a stage whose reports could not all be written, and
// before a stage when a command between stages (a del) died.
void RunStage(const char* trace_name, void (*stage)()) {
    EndRunIfWorkFileLost();
    ConsolePrint("%s%s\n", MSG_PROGRESS_START, trace_name);
    stage();
    EndRunIfWorkFileLost();
    ConsolePrint("%s%s\n", MSG_PROGRESS_END, trace_name);
}

// Without an interpreter no tool can run. Checked before the work folder is
// made, so the run ends leaving the temp directory and the response file as
// they were.
void RequireCommandInterpreter() {
    char tried[4096 + 1024];  // an interpreter's path and the fallback's
    if (PlatformFindCommandInterpreter(tried, sizeof tried)) return;
    ConsoleEcho(MSG_NO_COMMAND_INTERPRETER, tried);
    PlatformSayReason(tried);
    PlatformExit(EXIT_NO_INTERPRETER);
}

void DeleteWorkFiles(int first, int last) {
    for (int k = first; k <= last; ++k) DeleteWorkFile(State.Files.Path[k]);
}

}  // namespace

void RunDriver(int argc, char** argv) {
    ResetRunState();
    AnswerVersionRequest(argc, argv);
    ConsolePrint("%s", MSG_BANNER);
    ParseCommandLine(argc, argv);
    RequireCommandInterpreter();
    CheckResponseFile();
    CaptureAdapterReport();

    int first_mode_file = 0;
    int last_mode_file = 0;
    if (State.Settings.Class != CLASS_NETBEUI) {
        RunStage(TRACE_GET_OWN_HOST, GetOwnHost);
        RunStage(TRACE_GET_OTHER_HOSTS, GetOtherHosts);
        RunStage(TRACE_GET_COMPUTER_NAME, GetComputerNames);
        DeleteWorkFile(State.Files.Path[WF_SWEEP_PINGING_LINES]);
        first_mode_file = WF_SWEEP_PINGS;
        last_mode_file = WF_NAME_PINGING_LINES;
    } else {
        RunStage(TRACE_GET_NETBEUI_INFO, GetNetBeuiInfo);
        first_mode_file = WF_BROWSE_LIST;
        last_mode_file = WF_NBTSTAT_MAC_LINES;
    }
    RunStage(TRACE_WRITE_RESPONSE_FILE, WriteResponseFile);

    DeleteWorkFiles(WF_ADAPTER_REPORT, WF_ADAPTER_IP_LINES);
    DeleteWorkFiles(first_mode_file, last_mode_file);
    RemoveWorkFolder();
    PlatformExit(State.ExitStatus);
}

int main(int argc, char** argv) {
    PlatformPrepareConsole();
    RunDriver(argc, argv);
}
