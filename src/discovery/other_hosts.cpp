#include "discovery/other_hosts.h"

#include <cstdint>
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
constexpr int kProgressStep = 10;       // one mark per ten hosts
// Host numbers run from 1 to ~mask - 1: a /31 (~mask 1) and a /32 (~mask 0)
// have none.
constexpr uint32_t kSmallestSweptHostPart = 2;

// ---------------------------------------------------------------------------
// Address index: the first row that holds each Ip text, so that the harvest
// finds known addresses without scanning the table for every line. Open
// addressing over twice as many slots as the table has rows keeps the probes
// short. Keyed by the exact Ip text, so it answers what a scan of the rows
// comparing the texts would answer, empty and unusual own addresses included.

constexpr uint32_t kIndexSlots = 1u << 17;
constexpr int32_t kNoRow = -1;
int32_t gIndexRow[kIndexSlots];

uint32_t HashText(const char* text) {
    uint32_t hash = 2166136261u;  // FNV-1a
    for (; *text != '\0'; ++text) {
        hash ^= static_cast<unsigned char>(*text);
        hash *= 16777619u;
    }
    return hash;
}

// The slot that holds address, or the empty slot where it belongs.
uint32_t FindSlot(const char* address) {
    uint32_t slot = HashText(address) & (kIndexSlots - 1);
    while (gIndexRow[slot] != kNoRow &&
           std::strcmp(State.HostTable[gIndexRow[slot]].Ip, address) != 0) {
        slot = (slot + 1) & (kIndexSlots - 1);
    }
    return slot;
}

// The first row whose Ip is address, or kNoRow.
int32_t FindRow(const char* address) { return gIndexRow[FindSlot(address)]; }

// Records row under its Ip unless an earlier row holds the same text.
void IndexRow(int32_t row) {
    uint32_t slot = FindSlot(State.HostTable[row].Ip);
    if (gIndexRow[slot] == kNoRow) gIndexRow[slot] = row;
}

void BuildIndex(int row_count) {
    for (uint32_t slot = 0; slot < kIndexSlots; ++slot) gIndexRow[slot] = kNoRow;
    for (int row = 0; row < row_count; ++row) IndexRow(row);
}

// ---------------------------------------------------------------------------
// Reading the reports.

bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Length of the word at text: up to white space or the end of the text.
size_t WordLength(const char* text) {
    size_t length = 0;
    while (text[length] != '\0' && !IsWhiteSpace(text[length])) ++length;
    return length;
}

const char* SkipWhiteSpace(const char* text) {
    while (*text != '\0' && IsWhiteSpace(*text)) ++text;
    return text;
}

// A ping marker line of a resolved name: 'Pinging NAME [ADDRESS] with ...', or
// from version 6 on in Japanese 'NAME [ADDRESS]に ping を送信しています ...'.
// False when the line names no address (nothing resolved) or is malformed.
bool CutResolvedPing(const char* line, char* name, char* address) {
    const char* name_end = CutPingingName(line, name, NAME_SIZE);
    const char* open = std::strchr(name_end, '[');
    if (open == nullptr) return false;
    const char* close = std::strchr(open + 1, ']');
    if (close == nullptr) return false;
    size_t address_length = static_cast<size_t>(close - (open + 1));
    if (!IsDottedDecimal(open + 1, address_length)) return false;
    CopyFieldPart(address, ADDRESS_SIZE, open + 1, address_length);
    return true;
}

// A "dynamic" ARP line: its first two words are the address and the MAC.
// False when it has fewer than two words or the address is not dotted decimal.
bool CutArpEntry(const char* line, char* address, char* mac) {
    const char* address_start = SkipWhiteSpace(line);
    size_t address_length = WordLength(address_start);
    if (address_length == 0) return false;
    const char* mac_start = SkipWhiteSpace(address_start + address_length);
    size_t mac_length = WordLength(mac_start);
    if (mac_length == 0) return false;
    if (!IsDottedDecimal(address_start, address_length)) return false;
    CopyFieldPart(address, ADDRESS_SIZE, address_start, address_length);
    CopyFieldPart(mac, MAC_SIZE, mac_start, mac_length);
    return true;
}

// ---------------------------------------------------------------------------
// The sweep.

void FormatAddress(uint32_t value, char* text) {
    std::snprintf(text, ADDRESS_SIZE, "%d.%d.%d.%d", static_cast<int>(value >> 24),
                  static_cast<int>((value >> 16) & 0xFFu), static_cast<int>((value >> 8) & 0xFFu),
                  static_cast<int>(value & 0xFFu));
}

// The two commands that probe an address: its resolving ping (step 0), then
// its ARP query, each with its report redirected into path.
constexpr int kProbeSteps = 2;
const int kSweepSlotFiles[kProbeSteps] = {WF_SWEEP_PINGS, WF_SWEEP_ARP};

void BuildProbeCommand(int step, const char* address, const char* redirect, const char* path,
                       CommandLine* command) {
    if (step == 0) {
        StartResolvingPing(command, address);
    } else {
        CommandStart(command, "arp -a ");
        CommandAppend(command, address);
    }
    CommandAppend(command, redirect);
    CommandAppendPath(command, path);
}

uint64_t gMarkThreshold;  // wide, so a class A sweep cannot wrap it

// A "*" once host number i passes the threshold, one per ten hosts.
void MarkProgress(uint32_t i) {
    if (i > gMarkThreshold) {
        ConsolePrint("%s", MSG_PROGRESS_MARK);
        gMarkThreshold += kProgressStep;
    }
}

// ---------------------------------------------------------------------------
// The sweep with many hosts in flight: each address pings and then queries
// ARP into its slot's copies of work files 3 and 4, and is appended to them
// in address order.

uint32_t gSweepBase;

// Each address's ping, then its ARP query, each with ">" into the slot.
bool BuildSweepStep(uint32_t i, int step, int slot, CommandLine* command) {
    if (step >= kProbeSteps) return false;
    char address[ADDRESS_SIZE];
    FormatAddress(gSweepBase | i, address);
    char path[SLOT_PATH_SIZE];
    SlotFilePath(kSweepSlotFiles[step], slot, path, sizeof path);
    BuildProbeCommand(step, address, " > ", path, command);
    return true;
}

bool CollectSweptAddress(uint32_t i, int slot) {
    for (int file : kSweepSlotFiles) {
        char path[SLOT_PATH_SIZE];
        SlotFilePath(file, slot, path, sizeof path);
        CollectSlotFile(path, State.Files.Path[file], false);
    }
    MarkProgress(i);
    return true;
}

// Probes host numbers 1 to count - 1 of the subnet, with a progress mark every
// ten hosts.
void SweepSubnet(uint32_t network, uint32_t mask) {
    uint32_t count = ~mask;
    ConsolePrint(MSG_SEARCH_HOSTS, static_cast<int>(count - 2));
    State.ProgressLineOpen = true;
    uint32_t base = network & mask;
    gMarkThreshold = kProgressStep;
    if (State.Settings.Probes > 1) {
        gSweepBase = base;
        const ProbeJobs jobs = {BuildSweepStep, CollectSweptAddress, kSweepSlotFiles,
                                kProbeSteps};
        RunProbeJobs(1, count, jobs);
    } else {
        for (uint32_t i = 1; i < count; ++i) {
            char address[ADDRESS_SIZE];
            FormatAddress(base | i, address);
            ProbeAddress(address);
            EndRunIfWorkFileLost();  // no sweep goes on with a full disk
            MarkProgress(i);
        }
    }
    ConsolePrint("%s", MSG_PROGRESS_CLOSE);
    State.ProgressLineOpen = false;
}

// Filters a sweep report's marker lines into their work file and opens it,
// one attempt; nullptr (with the stage's error printed) when it cannot be read.
FILE* OpenFilteredReport(int report, const char* marker, int lines) {
    FilterLines(State.Files.Path[report], marker, State.Files.Path[lines]);
    FILE* file = OpenTextForRead(State.Files.Path[lines]);
    if (file == nullptr) ReportStageError(MSG_OTHER_HOSTS_ERROR);
    return file;
}

}  // namespace

void ProbeAddress(const char* address) {
    CommandLine command;
    for (int step = 0; step < kProbeSteps; ++step) {
        BuildProbeCommand(step, address, " >> ", State.Files.Path[kSweepSlotFiles[step]],
                          &command);
        RunCommand(command.Text);
    }
}

int HarvestResolvedNames(int next_row) {
    FILE* file = OpenFilteredReport(WF_SWEEP_PINGS, State.Markers.PingMarker, WF_SWEEP_PINGING_LINES);
    if (file == nullptr) return -1;
    BuildIndex(next_row);
    int n = next_row;
    char line[kLineSize];
    while (n < HOST_TABLE_ROWS && ReadTextLineStart(line, sizeof line, file)) {
        char name[NAME_SIZE];
        char address[ADDRESS_SIZE];
        if (!CutResolvedPing(line, name, address)) continue;
        if (FindRow(address) != kNoRow) continue;  // an own row or one found already
        HostRecord& row = State.HostTable[n];
        CopyField(row.Name, sizeof row.Name, name);
        CopyField(row.Ip, sizeof row.Ip, address);
        row.Mac[0] = '\0';
        IndexRow(n);
        ++n;
    }
    std::fclose(file);
    return n;
}

bool HarvestArpCache(int next_row) {
    FILE* file = OpenFilteredReport(WF_SWEEP_ARP, State.Markers.ArpMarker, WF_ARP_DYNAMIC_LINES);
    if (file == nullptr) return false;
    BuildIndex(next_row);
    int n = next_row;
    char line[kLineSize];
    while (n < HOST_TABLE_ROWS && ReadTextLineStart(line, sizeof line, file)) {
        State.HostTable[n].Name[0] = '\0';
        char address[ADDRESS_SIZE];
        char mac[MAC_SIZE];
        if (!CutArpEntry(line, address, mac)) continue;
        int32_t known = FindRow(address);
        if (known != kNoRow) {  // the later ARP line wins
            CopyField(State.HostTable[known].Mac, MAC_SIZE, mac);
            continue;
        }
        HostRecord& row = State.HostTable[n];
        CopyField(row.Ip, sizeof row.Ip, address);
        CopyField(row.Mac, sizeof row.Mac, mac);
        IndexRow(n);
        ++n;
    }
    std::fclose(file);
    State.HostCount = n;
    return true;
}

void GetOtherHosts() {
    uint32_t network = 0;
    uint32_t mask = 0;
    if (!ReadDottedQuad(State.Settings.NetAdd, &network) ||
        !ReadDottedQuad(State.Settings.MaskAdd, &mask)) {
        ReportStageError(MSG_OTHER_HOSTS_ERROR);  // no subnet to sweep
        return;
    }
    // The probes append to these reports; what an earlier run left must not count.
    std::remove(State.Files.Path[WF_SWEEP_PINGS]);
    std::remove(State.Files.Path[WF_SWEEP_ARP]);
    SweepSubnet(network, mask);
    // A /31 or /32 mask leaves no host address: nothing was swept, so no
    // report is there to harvest, and the table keeps the own rows.
    if (~mask < kSmallestSweptHostPart) {
        State.HostCount = State.OwnHostCount;
        return;
    }

    int n = HarvestResolvedNames(State.OwnHostCount);
    if (n < 0) return;
    HarvestArpCache(n);
}
