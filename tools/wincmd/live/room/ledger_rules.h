// How many probes of a live sweep may start now without overfilling the
// kernel's neighbour table, and what the probes of one run share to decide
// it. Pure rules on plain numbers; the table is counted and the ledger kept
// by neighbour_room.h.
//
// Every first datagram to an address on the segment makes a neighbour entry,
// which stays while the kernel resolves the address (three ARP requests a
// second apart) and, when nothing answered, as a failed entry until the
// kernel reclaims it. The table is one for the whole machine, every network
// namespace included, and refuses a new entry at its hard limit
// (net.ipv4.neigh.default.gc_thresh3) while none of its entries can be
// reclaimed: the datagram is then dropped.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct NeighbourTableCount {
    int Limit;     // the table's hard limit
    int InUse;     // entries the kernel cannot reclaim for a new one now
    int InFlight;  // probes let through whose entries the count may not show yet
};

// Entries left to the rest of the machine: its own traffic, other
// namespaces, and the hosts that answer, each of which needs an entry for
// the prober to answer its ARP request.
int EntriesKeptFree(int limit);

// How many probes may start now: what the limit leaves beside the entries in
// use, the probes in flight and the entries kept free; never below 0.
int ProbesMayStart(const NeighbourTableCount& table);

// Whether an entry in the given NUD_* state never resolved: still being
// resolved or failed. Only such entries, made by a probe of this process and
// left once its time-out has passed, are the sweep's to remove; an entry that
// resolved is what arp reports.
bool IsUnansweredEntry(unsigned state);

// Who holds a share of the room: a process, told apart from a later one
// with the same id by when it started (in the kernel's clock ticks).
struct RoomOwner {
    int32_t Process;
    int32_t Reserved;  // keeps the start aligned, always 0
    int64_t Started;
};

// What one member holds of the room, so that a member that is gone without
// leaving can give it back: its probes let through whose first datagram has
// not gone yet, and its probes waiting for room.
struct RoomShare {
    RoomOwner Owner;
    int32_t InFlight;
    int32_t Waiting;
};

// More members than this cannot join at once: a sweep runs at most 255
// probes side by side.
constexpr int kMaxRoomMembers = 512;

// What the probes of one run share, under a lock, in a file of the run's
// private work folder. Times are nanoseconds of the monotonic clock, which
// every process of the machine shares.
struct RoomLedger {
    int32_t Members;   // processes that joined and have not left: the first Members of Shares
    int32_t Budget;    // probes that may still start on the last count
    int32_t InFlight;  // probes let through whose first datagram has not gone yet
    int32_t Limit;     // the table's limit at the last count
    int32_t Waiting;   // probes waiting for room now
    int32_t Said;      // 1 once the run said how long the limit held it back
    int64_t CountedAtNs;     // when the table was last counted; 0: never
    int64_t JoinedAtNs;      // when the first member joined; 0: none yet
    int64_t LeftAtNs;        // when the last member left
    int64_t WaitingSinceNs;  // when Waiting last rose from 0
    int64_t WaitedNs;        // the time during which some probe waited
    int64_t OwnersCheckedAtNs;  // when the members were last checked for ones gone
    RoomShare Shares[kMaxRoomMembers];
};

enum RoomStep {
    ROOM_TAKE,         // the last count leaves room: take it
    ROOM_COUNT_TABLE,  // count the table again, then ask again
    ROOM_WAIT,         // no room on a count too recent to repeat: wait a moment
};

// A count holds this long; a probe that found no room counts again after
// kRecountInterval at the soonest.
constexpr int64_t kCountLifetimeNs = 50'000'000;
constexpr int64_t kRecountIntervalNs = 10'000'000;

RoomStep NextRoomStep(const RoomLedger& ledger, int64_t now_ns);

// A new count of the table: the budget is what ProbesMayStart gives.
void RecordTableCount(RoomLedger* ledger, int limit, int in_use, int64_t now_ns);

// Whether the last count left less than half of what the probes may use:
// then removing the entries that never resolved keeps the sweep going at full
// speed; with more room the table drains by itself.
bool IsCrowded(const RoomLedger& ledger);

// A probe takes the room the budget gives it; it is in flight until its
// first datagram has gone (EntryMade). The ledger alone, or the ledger and
// the share of the member whose probe it is.
void TakeRoom(RoomLedger* ledger);
void EntryMade(RoomLedger* ledger);
void TakeRoom(RoomLedger* ledger, RoomShare* share);
void EntryMade(RoomLedger* ledger, RoomShare* share);

// The time during which at least one probe waited, counted once however many
// wait at once.
void StartWaiting(RoomLedger* ledger, int64_t now_ns);
void StopWaiting(RoomLedger* ledger, int64_t now_ns);
void StartWaiting(RoomLedger* ledger, RoomShare* share, int64_t now_ns);
void StopWaiting(RoomLedger* ledger, RoomShare* share, int64_t now_ns);

// A process joins and leaves the run's ledger; the first one to join starts
// the sweep's clock, which the last one to leave stops (a later member
// starts it again). JoinRoom gives the owner's share, a new one or the one it
// holds; null when no place is left. LeaveRoom gives back what the owner's
// share holds and is true when no member is left.
RoomShare* JoinRoom(RoomLedger* ledger, const RoomOwner& owner, int64_t now_ns);
RoomShare* ShareOf(RoomLedger* ledger, const RoomOwner& owner);
bool LeaveRoom(RoomLedger* ledger, const RoomOwner& owner, int64_t now_ns);

// Members are checked for ones that are gone this often at most. A check
// reads the start of every member's process (a sweep has hundreds), and a
// member only goes without leaving when its process is killed.
constexpr int64_t kOwnerCheckIntervalNs = 1'000'000'000;

// When the last check is kOwnerCheckIntervalNs old: every member whose owner
// is no longer alive leaves, as LeaveRoom leaves. The number of members that
// were gone.
int ReturnSharesOfTheGone(RoomLedger* ledger, const std::function<bool(const RoomOwner&)>& alive,
                          int64_t now_ns);

// The one line a run says when the limit held its probes back long enough
// to matter, naming the setting that lifts it; empty when it did not.
std::string SlowedSweepLine(const RoomLedger& ledger);

// The line once per run: when no member is left, the line if the run has
// not said it yet; it then counts as said. Empty otherwise.
std::string SayOnce(RoomLedger* ledger);
