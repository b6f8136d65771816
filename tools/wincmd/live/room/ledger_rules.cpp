#include "live/room/ledger_rules.h"

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

void TakeRoom(RoomLedger* ledger, RoomShare* share) {
    TakeRoom(ledger);
    ++share->InFlight;
}

void EntryMade(RoomLedger* ledger, RoomShare* share) {
    EntryMade(ledger);
    share->InFlight = std::max(share->InFlight - 1, 0);
}

void StartWaiting(RoomLedger* ledger, RoomShare* share, int64_t now_ns) {
    StartWaiting(ledger, now_ns);
    ++share->Waiting;
}

void StopWaiting(RoomLedger* ledger, RoomShare* share, int64_t now_ns) {
    if (share->Waiting <= 0) return;
    StopWaiting(ledger, now_ns);
    --share->Waiting;
}

RoomShare* ShareOf(RoomLedger* ledger, const RoomOwner& owner) {
    for (int i = 0; i < ledger->Members; ++i) {
        const RoomOwner& holder = ledger->Shares[i].Owner;
        if (holder.Process == owner.Process && holder.Started == owner.Started) return &ledger->Shares[i];
    }
    return nullptr;
}

RoomShare* JoinRoom(RoomLedger* ledger, const RoomOwner& owner, int64_t now_ns) {
    ledger->Members = std::clamp(ledger->Members, 0, kMaxRoomMembers);
    if (RoomShare* held = ShareOf(ledger, owner)) return held;
    if (ledger->Members == kMaxRoomMembers) return nullptr;
    if (ledger->JoinedAtNs == 0) ledger->JoinedAtNs = now_ns;
    RoomShare* share = &ledger->Shares[ledger->Members++];
    *share = RoomShare{owner, 0, 0};
    return share;
}

bool LeaveRoom(RoomLedger* ledger, const RoomOwner& owner, int64_t now_ns) {
    RoomShare* share = ShareOf(ledger, owner);
    if (share == nullptr) return false;
    ledger->InFlight = std::max(ledger->InFlight - share->InFlight, 0);
    while (share->Waiting > 0) StopWaiting(ledger, share, now_ns);
    *share = ledger->Shares[--ledger->Members];  // the last share takes its place
    if (ledger->Members > 0) return false;
    ledger->LeftAtNs = now_ns;
    return true;
}

int ReturnSharesOfTheGone(RoomLedger* ledger, const std::function<bool(const RoomOwner&)>& alive,
                          int64_t now_ns) {
    if (now_ns - ledger->OwnersCheckedAtNs < kOwnerCheckIntervalNs) return 0;
    ledger->OwnersCheckedAtNs = now_ns;
    int gone = 0;
    for (int i = ledger->Members - 1; i >= 0; --i) {
        const RoomOwner owner = ledger->Shares[i].Owner;
        if (alive(owner)) continue;
        LeaveRoom(ledger, owner, now_ns);
        ++gone;
    }
    return gone;
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

std::string SayOnce(RoomLedger* ledger) {
    if (ledger->Members > 0 || ledger->Said != 0) return "";
    std::string line = SlowedSweepLine(*ledger);
    if (!line.empty()) ledger->Said = 1;
    return line;
}
