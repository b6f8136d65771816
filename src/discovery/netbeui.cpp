#include "discovery/netbeui.h"

#include <cstdio>
#include <cstring>

#include "exec/command_runner.h"
#include "exec/parallel_probes.h"
#include "platform/platform.h"
#include "platform/text_file.h"
#include "state/run_state.h"
#include "text/messages.h"

namespace {

constexpr int kLineSize = 512;
constexpr int kHeadingReads = 3;  // net view's heading, blank line and rule
constexpr size_t kMacLength = 17;  // six two-digit groups joined by "-"
const char kNetViewCommand[] = "net view > ";
const char kNbtstatCommand[] = "nbtstat -a ";
const char kRedirect[] = " > ";
// Characters the command interpreter would act on inside a command line.
const char kInterpreterSpecials[] = "&|<>^\"%";

bool IsComputerLine(const char* piece) { return piece[0] == '\\' && piece[1] == '\\'; }

// The name runs from just after the two backslashes to the first blank or the
// line end, cut to the field.
void TakeComputerName(const char* piece, HostRecord* row) {
    const char* name = piece + 2;
    CopyFieldPart(row->Name, sizeof row->Name, name, std::strcspn(name, " \n"));
}

// Fills rows from 0 with the computers of work file 8 and sets HostCount.
// False when the file cannot be opened.
bool ReadBrowseList() {
    FILE* list = OpenTextForRead(State.Files.Path[WF_BROWSE_LIST]);
    if (list == nullptr) return false;
    char piece[kLineSize];
    int reads = 0;
    int count = 0;
    while (count < HOST_TABLE_ROWS && ReadTextLineStart(piece, sizeof piece, list)) {
        if (reads++ < kHeadingReads) continue;
        HostRecord* row = &State.HostTable[count];
        std::memset(row, 0, sizeof *row);
        if (!IsComputerLine(piece)) continue;
        TakeComputerName(piece, row);
        ++count;  // an empty name still makes a row
    }
    std::fclose(list);
    State.HostCount = count;
    return true;
}

// A name from the browse list goes into a command line only when the
// interpreter would take it as plain text.
bool IsSafeInCommand(const char* name) {
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(name); *c != '\0'; ++c) {
        if (*c < 0x20 || *c == 0x7F || std::strchr(kInterpreterSpecials, *c) != nullptr) {
            return false;
        }
    }
    return true;
}

// The MAC is the 17 bytes at NbtMacColumn, or from version 6 on after the
// mark (column 18 in English, 19 in Japanese); fewer when the line text ends
// earlier, none when it ends before; the line end stays out.
void TakeMacAddress(const char* line, HostRecord* row) {
    const char* mac =
        ReportLineValue(line, State.Markers.NbtMacValueMark, State.Columns.NbtMacColumn);
    const size_t available = std::strcspn(mac, "\n");
    CopyFieldPart(row->Mac, sizeof row->Mac, mac, available < kMacLength ? available : kMacLength);
}

// "nbtstat -a NAME > path".
void BuildNbtstat(const HostRecord& row, const char* path, CommandLine* command) {
    CommandStart(command, kNbtstatCommand);
    CommandAppend(command, row.Name);
    CommandAppend(command, kRedirect);
    CommandAppendPath(command, path);
}

// Keeps the MAC of the last MAC marker line of the report in work file 9.
// False when the filtered lines cannot be opened.
bool TakeReportedMac(HostRecord* row) {
    const auto& paths = State.Files.Path;
    FilterLines(paths[WF_NBTSTAT_REPORT], State.Markers.NbtMacMarker, paths[WF_NBTSTAT_MAC_LINES]);
    FILE* lines = OpenTextForRead(paths[WF_NBTSTAT_MAC_LINES]);
    if (lines == nullptr) {
        ReportStageError(MSG_MAC_ADDRESS_ERROR);
        return false;
    }
    char line[kLineSize];
    while (ReadTextLineStart(line, sizeof line, lines)) TakeMacAddress(line, row);
    std::fclose(lines);
    return true;
}

// Reports of an earlier computer or run must never pass for this one's.
void RemoveReportFiles() {
    std::remove(State.Files.Path[WF_NBTSTAT_REPORT]);
    std::remove(State.Files.Path[WF_NBTSTAT_MAC_LINES]);
}

// Asks nbtstat for one computer's report and keeps its MAC. False when the
// filtered lines cannot be opened.
bool QueryMacAddress(HostRecord* row) {
    RemoveReportFiles();
    CommandLine command;
    BuildNbtstat(*row, State.Files.Path[WF_NBTSTAT_REPORT], &command);
    RunCommand(command.Text);
    return TakeReportedMac(row);
}

// With many computers in flight, each nbtstat report goes into its slot's copy
// of work file 9 and is handled in browse-list order from there.
const int kNbtstatSlotFiles[] = {WF_NBTSTAT_REPORT};

bool BuildSlotNbtstat(uint32_t i, int step, int slot, CommandLine* command) {
    const HostRecord& row = State.HostTable[i];
    if (step > 0 || !IsSafeInCommand(row.Name)) return false;
    char path[SLOT_PATH_SIZE];
    SlotFilePath(WF_NBTSTAT_REPORT, slot, path, sizeof path);
    BuildNbtstat(row, path, command);
    return true;
}

bool CollectNbtstat(uint32_t i, int slot) {
    HostRecord* row = &State.HostTable[i];
    if (IsSafeInCommand(row->Name)) {
        RemoveReportFiles();
        char path[SLOT_PATH_SIZE];
        SlotFilePath(WF_NBTSTAT_REPORT, slot, path, sizeof path);
        CollectSlotFile(path, State.Files.Path[WF_NBTSTAT_REPORT], true);
        if (!TakeReportedMac(row)) return false;
    }
    ConsolePrint("%s", MSG_COMPUTER_DONE);
    return true;
}

}  // namespace

void GetNetBeuiInfo() {
    CommandLine command;
    CommandStart(&command, kNetViewCommand);
    CommandAppendPath(&command, State.Files.Path[WF_BROWSE_LIST]);
    RunCommand(command.Text);

    State.HostCount = 0;
    if (!ReadBrowseList()) {
        ReportStageError(MSG_BROWSE_LIST_ERROR);
        return;
    }
    if (State.Settings.Probes > 1) {
        const ProbeJobs jobs = {BuildSlotNbtstat, CollectNbtstat, kNbtstatSlotFiles, 1};
        // A MAC error ends the stage without the line end.
        if (!RunProbeJobs(0, static_cast<uint32_t>(State.HostCount), jobs)) return;
    } else {
        for (int i = 0; i < State.HostCount; ++i) {
            HostRecord* row = &State.HostTable[i];
            // A name that is unsafe in a command line is not asked about: its
            // row keeps an empty MAC.
            if (IsSafeInCommand(row->Name) && !QueryMacAddress(row)) return;
            ConsolePrint("%s", MSG_COMPUTER_DONE);
        }
    }
    ConsolePrint("%s", MSG_LINE_END);
}
