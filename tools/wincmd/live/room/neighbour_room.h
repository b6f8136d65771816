// Room in the kernel's neighbour table for the probes of a live sweep.
//
// A sweep starts many wincmd processes at once, each probing one address.
// Before its first datagram to an address, a probe waits until the table has
// room for the entry it makes (ledger_rules.h decides how much). The live
// machine owns one NeighbourRoom. Within a run of Qarvik, whose work folder
// the environment names (kWorkFolderVariable), the processes that join share
// their count in a ledger file in that folder, under a lock, each share
// marked with its owner, so that the share of a process that ended without
// leaving is given back. The last member to leave says, once a run, how long
// the table's limit held the probes back. Outside a run, and before it joins
// or after it left, a room keeps its count to itself and writes nothing.
//
// Where the process may (CAP_NET_ADMIN, as root), a ping drops the cached
// entry of its address before it sends (Await afresh), so that only this
// run's answer fills it. The room also removes the entries its own probes
// made that never resolved, so that the table holds little more than the
// probes in flight; an entry that was there before the probe (and was not
// dropped), or that resolved, is never removed.
//
// Any tool that sends to many addresses (ping, NetBIOS requests) calls Await
// (or Try) before its first datagram to an address and EntryMade after it,
// and RemoveUnansweredEntry once the answer is in or the time-out has passed.
// The calls are safe from several threads. A call that cannot reach the
// shared ledger by its deadline fails with the reason: the probe stops.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "live/kernel/interfaces.h"
#include "live/room/ledger_rules.h"
#include "live/room/room_ledger_file.h"
#include "live/kernel/socket.h"

// What the room asks of the machine: the time, the table's count, whether a
// member's owner is alive, and whether the process may remove entries. The
// kernel answers (KernelRoomSystem); a test may answer in its place.
struct RoomSystem {
    std::function<int64_t()> NowNs;  // the monotonic clock
    // The entries the kernel cannot reclaim for a new one; false when the
    // table cannot be counted.
    std::function<bool(int in_flight, int* limit, int* in_use)> CountTable;
    std::function<bool(const RoomOwner&)> IsAlive;
    bool MayRemoveEntries;
};

RoomSystem KernelRoomSystem();

// This process as the owner of its share.
RoomOwner ThisProcess();

class NeighbourRoom {
public:
    // The room of the run whose work folder is folder (empty: none; the room
    // then counts alone), joined as owner.
    NeighbourRoom(const std::string& folder, const RoomOwner& owner, RoomSystem system,
                  std::shared_ptr<InterfaceList> interfaces);

    // The room of this process: of the run that the environment names, if any.
    static std::shared_ptr<NeighbourRoom> OfThisProcess(std::shared_ptr<InterfaceList> interfaces);

    // Joins the run's ledger; the calls after it count there.
    bool Join(Clock::time_point deadline, std::string* error);

    // Leaves the run's ledger, giving back what the process still holds; line
    // gets what to say when this was the last member and the run has not
    // said it yet. A room that counted alone says its own. After it the room
    // counts alone again.
    bool Leave(std::string* line, std::string* error);

    // Waits until the table has room for the entry that the first datagram to
    // address makes, at the latest until deadline (after which the send meets
    // the full table itself and waits there). An address let through before
    // returns at once. A probe that asks afresh (ping) has the cached entry
    // for address dropped first, where the process may change the table and
    // the entry is not permanent, so that only this probe's answer fills it.
    bool Await(uint32_t address, Clock::time_point deadline, std::string* error,
               bool afresh = false);

    // The same without waiting, for a tool that has other work meanwhile:
    // *room is false when the caller should try again a little later. The
    // ledger's lock is waited for until deadline.
    bool Try(uint32_t address, Clock::time_point deadline, bool* room, std::string* error);

    // The first datagram to address went (or could not go): its entry is in
    // the table's count now.
    bool EntryMade(uint32_t address, std::string* error);

    // Once the answer to address is in or its time-out has passed: removes
    // the entry this process's probe made when it is still being resolved or
    // failed, where the process may; never another entry. The address counts
    // as new again afterwards.
    void RemoveUnansweredEntry(uint32_t address);

private:
    // An address this process let through, and what it needs to remove the
    // entry its probe made.
    struct Probe {
        uint32_t Address;
        unsigned InterfaceIndex;  // the adapter whose subnet holds it; 0: none
        bool HadEntry;            // an entry was there before the probe
        bool Made;                // its first datagram went
    };
    bool Change(Clock::time_point deadline, const std::function<void(RoomLedger*, RoomShare*)>& change,
                std::string* error);
    bool TryTake(Clock::time_point deadline, bool* waiting, bool* crowded, bool* taken,
                 std::string* error);
    void LetThrough(uint32_t address, bool crowded, bool afresh);
    unsigned InterfaceFor(uint32_t address);

    std::mutex lock_;
    const RoomOwner owner_;
    const RoomSystem system_;
    const std::shared_ptr<InterfaceList> interfaces_;
    RoomLedgerFile file_;  // Path empty: no run
    bool joined_ = false;
    std::unique_ptr<RoomLedger> own_;  // the count while the room counts alone
    bool try_waiting_ = false;  // a Try found no room and its caller waits
    bool may_remove_entries_;   // until the kernel says otherwise
    std::unordered_map<uint32_t, Probe> probes_;  // by address
};
