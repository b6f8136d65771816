#include "discovery/computer_names.h"

#include <cstdio>
#include <cstring>

#include "discovery/ping_report.h"
#include "exec/command_runner.h"
#include "exec/parallel_probes.h"
#include "platform/platform.h"
#include "platform/text_file.h"
#include "state/run_state.h"
#include "text/messages.h"

namespace {

constexpr int kLineSize = 512;
constexpr int kMarkEvery = 10;  // rows per progress mark

// "ping -a -n 1 [-w ms ]<address>" and the redirection of its report.
void BuildRowPing(int32_t row, const char* redirect, const char* path, CommandLine* command) {
    StartResolvingPing(command, State.HostTable[row].Ip);
    CommandAppend(command, redirect);
    CommandAppendPath(command, path);
}

// Into work file 6 with ">" for the first row, ">>" after it, so work file 6
// collects this run's reports only.
void PingRow(int32_t row) {
    CommandLine command;
    BuildRowPing(row, row == 0 ? " > " : " >> ", State.Files.Path[WF_NAME_PINGS], &command);
    RunCommand(command.Text);
}

int32_t gMarkThreshold;

// A "*" after every tenth row past the eleventh, so the user sees the run move on.
void MarkProgress(int32_t i) {
    if (i > gMarkThreshold) {
        ConsolePrint("%s", MSG_PROGRESS_MARK);
        gMarkThreshold += kMarkEvery;
    }
}

// With many rows in flight each row pings into its slot's copy of work file 6,
// and the copies are collected in row order: row 0's replaces work file 6, the
// others are appended, as the one-by-one redirections do.
const int kNameSlotFiles[] = {WF_NAME_PINGS};

bool BuildSlotPing(uint32_t row, int step, int slot, CommandLine* command) {
    if (step > 0) return false;
    char path[SLOT_PATH_SIZE];
    SlotFilePath(WF_NAME_PINGS, slot, path, sizeof path);
    BuildRowPing(static_cast<int32_t>(row), " > ", path, command);
    return true;
}

bool CollectRowPing(uint32_t row, int slot) {
    char path[SLOT_PATH_SIZE];
    SlotFilePath(WF_NAME_PINGS, slot, path, sizeof path);
    CollectSlotFile(path, State.Files.Path[WF_NAME_PINGS], row == 0);
    MarkProgress(static_cast<int32_t>(row));
    return true;
}

void PingEveryRow(int32_t rows) {
    gMarkThreshold = kMarkEvery;
    if (State.Settings.Probes > 1) {
        const ProbeJobs jobs = {BuildSlotPing, CollectRowPing, kNameSlotFiles, 1};
        RunProbeJobs(0, static_cast<uint32_t>(rows), jobs);
        return;
    }
    for (int32_t i = 0; i < rows; ++i) {
        PingRow(i);
        EndRunIfWorkFileLost();  // no more pings into a full disk
        MarkProgress(i);
    }
}

// The first row from `from` on whose address is address; rows when none is.
int32_t FindRowFrom(int32_t from, int32_t rows, const char* address) {
    for (int32_t i = from; i < rows; ++i) {
        if (std::strcmp(State.HostTable[i].Ip, address) == 0) return i;
    }
    return rows;
}

// Each ping marker line names the row whose address it carries. The reports
// come in row order, so the search goes on after the row named last: a row
// without a report keeps its name, and a line for no row further on (a
// report read twice, a stray line) names nothing.
void NameRowsFromPingingLines(int32_t rows) {
    FILE* file = OpenTextForRead(State.Files.Path[WF_NAME_PINGING_LINES]);
    if (file == nullptr) {
        ReportStageError(MSG_COMPUTER_NAME_ERROR);
        return;
    }
    char line[kLineSize];
    int32_t next = 0;
    while (next < rows && ReadTextLineStart(line, sizeof line, file)) {
        char address[ADDRESS_SIZE];
        if (!CutPingingAddress(line, address)) continue;
        int32_t found = FindRowFrom(next, rows, address);
        if (found == rows) continue;
        HostRecord& row = State.HostTable[found];
        CutPingingName(line, row.Name, sizeof row.Name);
        next = found + 1;
    }
    std::fclose(file);
}

}  // namespace

void GetComputerNames() {
    const int32_t rows = TableRowCount();
    ConsolePrint(MSG_SEARCH_ACTIVE_HOSTS, static_cast<int>(State.HostCount));
    State.ProgressLineOpen = true;
    PingEveryRow(rows);
    ConsolePrint("%s", MSG_PROGRESS_CLOSE);
    State.ProgressLineOpen = false;
    FilterLines(State.Files.Path[WF_NAME_PINGS], State.Markers.PingMarker,
                State.Files.Path[WF_NAME_PINGING_LINES]);
    NameRowsFromPingingLines(rows);
}
