#include "live/neighbour_room.h"

#include <linux/neighbour.h>

#include <algorithm>
#include <cstdio>

namespace {

// Waits shorter than this are the ordinary jitter of a count and not worth a
// line.
constexpr int64_t kNoticeableWaitNs = 100'000'000;

double Seconds(int64_t nanoseconds) { return static_cast<double>(nanoseconds) / 1e9; }

}  // namespace

int EntriesKeptFree(int limit) { return std::max(limit / 8, 1); }

int ProbesMayStart(const NeighbourTableCount& table) {
    const int free = table.Limit - EntriesKeptFree(table.Limit) - table.InUse - table.InFlight;
    return std::max(free, 0);
}

bool IsUnansweredEntry(unsigned state) { return (state & (NUD_INCOMPLETE | NUD_FAILED)) != 0; }

RoomStep NextRoomStep(const RoomLedger& ledger, int64_t now_ns) {
    const int64_t age = now_ns - ledger.CountedAtNs;
    if (ledger.CountedAtNs != 0 && ledger.Budget > 0 && age < kCountLifetimeNs) return ROOM_TAKE;
    return ledger.CountedAtNs == 0 || age >= kRecountIntervalNs ? ROOM_COUNT_TABLE : ROOM_WAIT;
}

void RecordTableCount(RoomLedger* ledger, int limit, int in_use, int64_t now_ns) {
    ledger->Limit = limit;
    ledger->Budget = ProbesMayStart({limit, in_use, ledger->InFlight});
    ledger->CountedAtNs = now_ns;
}

bool IsCrowded(const RoomLedger& ledger) {
    return ledger.Budget < (ledger.Limit - EntriesKeptFree(ledger.Limit)) / 2;
}

void TakeRoom(RoomLedger* ledger) {
    ledger->Budget = std::max(ledger->Budget - 1, 0);
    ++ledger->InFlight;
}

void EntryMade(RoomLedger* ledger) { ledger->InFlight = std::max(ledger->InFlight - 1, 0); }

void StartWaiting(RoomLedger* ledger, int64_t now_ns) {
    if (ledger->Waiting++ == 0) ledger->WaitingSinceNs = now_ns;
}

void StopWaiting(RoomLedger* ledger, int64_t now_ns) {
    if (ledger->Waiting <= 0) return;
    if (--ledger->Waiting == 0) ledger->WaitedNs += now_ns - ledger->WaitingSinceNs;
}

void JoinRoom(RoomLedger* ledger, int64_t now_ns) {
    if (ledger->JoinedAtNs == 0) ledger->JoinedAtNs = now_ns;
    ledger->Members = std::max(ledger->Members, 0) + 1;
}

bool LeaveRoom(RoomLedger* ledger, int64_t now_ns) {
    if (--ledger->Members > 0) return false;
    ledger->Members = 0;
    ledger->LeftAtNs = now_ns;
    return true;
}

std::string SlowedSweepLine(const RoomLedger& ledger) {
    if (ledger.WaitedNs < kNoticeableWaitNs) return "";
    char line[320];
    std::snprintf(line, sizeof line,
                  "the kernel's neighbour table was full: probes waited for room during %.1f s "
                  "of this sweep's %.1f s; raising net.ipv4.neigh.default.gc_thresh3 (now %d) "
                  "lets them start at once",
                  Seconds(ledger.WaitedNs), Seconds(ledger.LeftAtNs - ledger.JoinedAtNs), ledger.Limit);
    return line;
}
