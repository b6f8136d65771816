#include "discovery/computer_names.h"

#include <cstdio>
#include <cstring>

#include "discovery/ping_report.h"
#include "exec/command_runner.h"
#include "platform/platform.h"
#include "platform/text_file.h"
#include "run/run_state.h"
#include "text/messages.h"

namespace {

constexpr int kLineSize = 512;
constexpr int kMarkEvery = 10;  // rows per progress mark

// "ping -a -n 1 [-w ms ]<address> > file 6" for the first row, ">>" after it,
// so work file 6 collects this run's reports only.
void PingRow(int32_t row) {
    CommandLine command;
    StartResolvingPing(&command, State.HostTable[row].Ip);
    CommandAppend(&command, row == 0 ? " > " : " >> ");
    CommandAppendPath(&command, State.Files.Path[WF_NAME_PINGS]);
    RunCommand(command.Text);
}

// Pings every row, with a "*" after every tenth row past the eleventh so the
// user sees the run move on.
void PingEveryRow(int32_t rows) {
    int32_t threshold = kMarkEvery;
    for (int32_t i = 0; i < rows; ++i) {
        PingRow(i);
        if (i > threshold) {
            ConsolePrint("%s", MSG_PROGRESS_MARK);
            threshold += kMarkEvery;
        }
    }
}

// The k-th "Pinging" line names row k; rows past the last line keep their names.
void NameRowsFromPingingLines(int32_t rows) {
    FILE* file = OpenTextForRead(State.Files.Path[WF_NAME_PINGING_LINES]);
    if (file == nullptr) {
        ConsolePrint("%s", MSG_COMPUTER_NAME_ERROR);
        return;
    }
    char line[kLineSize];
    for (int32_t i = 0; i < rows && ReadTextLineStart(line, sizeof line, file); ++i) {
        HostRecord& row = State.HostTable[i];
        CutPingingName(line, row.Name, sizeof row.Name);
    }
    std::fclose(file);
}

}  // namespace

void GetComputerNames() {
    const int32_t rows = TableRowCount();
    ConsolePrint(MSG_SEARCH_ACTIVE_HOSTS, static_cast<int>(State.HostCount));
    PingEveryRow(rows);
    ConsolePrint("%s", MSG_PROGRESS_CLOSE);
    FilterLines(State.Files.Path[WF_NAME_PINGS], PINGING_MARKER,
                State.Files.Path[WF_NAME_PINGING_LINES]);
    NameRowsFromPingingLines(rows);
}
