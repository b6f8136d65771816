// NeighbourRoom (neighbour_room.h): the live machine's room in the kernel's
// neighbour table, shared through the run's ledger or counted alone.
#include "live/room/neighbour_room.h"

#include <errno.h>
#include <linux/neighbour.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "live/kernel/netlink.h"
#include "contract/work_folder.h"

namespace {

constexpr auto kRoomPause = std::chrono::milliseconds(10);
// How long a call that does not wait for room waits for the ledger's lock.
constexpr auto kLedgerPatience = std::chrono::seconds(2);

// The entry for address on the interface, if the kernel has one; false when
// it cannot say.
bool FindEntry(uint32_t address, unsigned interface_index, NeighbourEntry* found, bool* exists) {
    std::vector<NeighbourEntry> entries;
    bool answered = false;
    std::string error;
    if (!ReadNeighbourEntry(address, interface_index, &entries, &answered, &error) || !answered) {
        return false;
    }
    *exists = false;
    for (const NeighbourEntry& entry : entries) {
        if (entry.Address == address && entry.InterfaceIndex == interface_index) {
            *found = entry;
            *exists = true;
        }
    }
    return true;
}

// Removes the probe's entry when it is its own and never resolved; false
// when the kernel says the process may not.
bool RemoveIfUnanswered(uint32_t address, unsigned interface_index, bool had_entry) {
    if (had_entry || interface_index == 0) return true;
    NeighbourEntry entry{};
    bool exists = false;
    if (!FindEntry(address, interface_index, &entry, &exists) || !exists ||
        !IsUnansweredEntry(entry.State)) {
        return true;
    }
    int refusal = 0;
    std::string error;
    return DeleteNeighbourEntry(address, interface_index, &refusal, &error) || refusal != EPERM;
}

// Drops the kernel's cached entry for address unless it is permanent (or
// needs no resolution), so that the probe's first datagram makes the kernel
// ask afresh: an entry left from before, even one still reachable, then
// answers only if the host answers now. *had_entry says whether an entry is
// still there (a permanent one, or one that could not be dropped); false when
// the kernel says the process may not change the table.
bool DropCachedEntry(uint32_t address, unsigned interface_index, bool* had_entry) {
    NeighbourEntry entry{};
    bool exists = true;
    *had_entry = true;
    if (!FindEntry(address, interface_index, &entry, &exists)) return true;
    *had_entry = exists;
    if (!exists || (entry.State & (NUD_PERMANENT | NUD_NOARP)) != 0) return true;
    int refusal = 0;
    std::string error;
    if (DeleteNeighbourEntry(address, interface_index, &refusal, &error) || refusal == ENOENT) {
        *had_entry = false;
        return true;
    }
    return refusal != EPERM;
}

}  // namespace

NeighbourRoom::NeighbourRoom(const std::string& folder, const RoomOwner& owner, RoomSystem system,
                             std::shared_ptr<InterfaceList> interfaces)
    : owner_(owner),
      system_(std::move(system)),
      interfaces_(std::move(interfaces)),
      own_(std::make_unique<RoomLedger>()),
      may_remove_entries_(system_.MayRemoveEntries) {
    if (!folder.empty()) file_.Path = LedgerPathInFolder(folder);
    JoinRoom(own_.get(), owner_, system_.NowNs());
}

std::shared_ptr<NeighbourRoom> NeighbourRoom::OfThisProcess(std::shared_ptr<InterfaceList> interfaces) {
    const char* folder = std::getenv(kWorkFolderVariable);
    return std::make_shared<NeighbourRoom>(folder != nullptr ? folder : "", ThisProcess(),
                                           KernelRoomSystem(), std::move(interfaces));
}

// Runs change on the run's ledger once joined, else on the room's own, with
// the owner's share in it.
bool NeighbourRoom::Change(Clock::time_point deadline,
                           const std::function<void(RoomLedger*, RoomShare*)>& change,
                           std::string* error) {
    if (!joined_) {
        change(own_.get(), JoinRoom(own_.get(), owner_, system_.NowNs()));
        return true;
    }
    return ChangeLedger(&file_, deadline, [&](RoomLedger* ledger) {
        ReturnSharesOfTheGone(ledger, system_.IsAlive, system_.NowNs());
        RoomShare* share = JoinRoom(ledger, owner_, system_.NowNs());  // back in, if taken for gone
        if (share != nullptr) change(ledger, share);
    }, error);
}

bool NeighbourRoom::Join(Clock::time_point deadline, std::string* error) {
    std::lock_guard<std::mutex> hold(lock_);
    if (joined_ || file_.Path.empty()) return true;
    bool placed = false;
    const bool changed = ChangeLedger(&file_, deadline, [&](RoomLedger* ledger) {
        ReturnSharesOfTheGone(ledger, system_.IsAlive, system_.NowNs());
        placed = JoinRoom(ledger, owner_, system_.NowNs()) != nullptr;
    }, error);
    if (changed && !placed) *error = "the neighbour room's ledger " + file_.Path + " has no place left";
    joined_ = changed && placed;
    return joined_;
}

bool NeighbourRoom::Leave(std::string* line, std::string* error) {
    std::lock_guard<std::mutex> hold(lock_);
    RoomLedger* own = own_.get();
    line->clear();
    if (!joined_) {
        if (LeaveRoom(own, owner_, system_.NowNs())) *line = SayOnce(own);
        JoinRoom(own, owner_, system_.NowNs());  // a look-up thread that comes later counts here
        return true;
    }
    const bool changed = ChangeLedger(&file_, Clock::now() + kLedgerPatience, [&](RoomLedger* ledger) {
        ReturnSharesOfTheGone(ledger, system_.IsAlive, system_.NowNs());
        if (LeaveRoom(ledger, owner_, system_.NowNs())) *line = SayOnce(ledger);
    }, error);
    CloseLedger(&file_);
    joined_ = false;
    *own = RoomLedger{};
    JoinRoom(own, owner_, system_.NowNs());
    return changed;
}

// Takes room for one probe when the ledger has it, counting the table when
// the count is old. waiting says whether this probe is counted as waiting.
bool NeighbourRoom::TryTake(Clock::time_point deadline, bool* waiting, bool* crowded, bool* taken,
                            std::string* error) {
    *taken = false;
    const bool changed = Change(deadline, [&](RoomLedger* ledger, RoomShare* share) {
        int64_t now = system_.NowNs();
        RoomStep step = NextRoomStep(*ledger, now);
        if (step == ROOM_COUNT_TABLE) {
            int limit = 0;
            int in_use = 0;
            // A table that cannot be counted lets the probe through: its
            // send meets a full table itself.
            step = ROOM_TAKE;
            if (system_.CountTable(ledger->InFlight, &limit, &in_use)) {
                now = system_.NowNs();
                RecordTableCount(ledger, limit, in_use, now);
                step = NextRoomStep(*ledger, now);
            }
        }
        *taken = step == ROOM_TAKE;
        *crowded = IsCrowded(*ledger);
        if (*taken) {
            TakeRoom(ledger, share);
            if (*waiting) StopWaiting(ledger, share, now);
        } else if (!*waiting) {
            StartWaiting(ledger, share, now);
        }
    }, error);
    if (changed) *waiting = !*taken;
    return changed;
}

// The adapter whose subnet holds address, whose entry the probe makes.
unsigned NeighbourRoom::InterfaceFor(uint32_t address) {
    std::string error;
    const std::vector<LiveInterface>* interfaces = interfaces_->Get(&error);
    if (interfaces == nullptr) return 0;
    for (const LiveInterface& interface : *interfaces) {
        if (!IsAdapter(interface)) continue;
        for (size_t i = 0; i < interface.Addresses.size() && i < interface.Netmasks.size(); ++i) {
            const uint32_t mask = interface.Netmasks[i];
            if ((interface.Addresses[i] & mask) == (address & mask)) return interface.Index;
        }
    }
    return 0;
}

// Records the address as let through. Its entry is worth removing later only
// while the table is crowded; otherwise the table drains by itself and the
// probe spares the look-ups. What removing it needs: its interface and
// whether an entry was there before (then it is not the probe's).
// A probe that asks afresh drops the cached entry first (one look-up, and a
// removal only where an entry is there), after which the entry is its own.
void NeighbourRoom::LetThrough(uint32_t address, bool crowded, bool afresh) {
    Probe probe{address, 0, true, false};
    if (may_remove_entries_ && (crowded || afresh)) {
        probe.InterfaceIndex = InterfaceFor(address);
        NeighbourEntry entry{};
        if (probe.InterfaceIndex != 0 && afresh) {
            may_remove_entries_ = DropCachedEntry(address, probe.InterfaceIndex, &probe.HadEntry);
        } else if (probe.InterfaceIndex != 0 &&
                   !FindEntry(address, probe.InterfaceIndex, &entry, &probe.HadEntry)) {
            probe.HadEntry = true;
        }
        if (!crowded) probe.InterfaceIndex = 0;  // the table drains by itself
    }
    probes_.emplace(address, probe);
}

bool NeighbourRoom::Await(uint32_t address, Clock::time_point deadline, std::string* error,
                          bool afresh) {
    bool waiting = false;
    for (;;) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (probes_.count(address) != 0) {  // let through before, or by another thread
                if (!waiting) return true;
                return Change(deadline + kLedgerPatience, [&](RoomLedger* ledger, RoomShare* share) {
                    StopWaiting(ledger, share, system_.NowNs());
                }, error);
            }
            bool crowded = true;
            if (Clock::now() >= deadline) {
                const bool changed = Change(deadline + kLedgerPatience, [&](RoomLedger* ledger, RoomShare* share) {
                    if (waiting) StopWaiting(ledger, share, system_.NowNs());
                    TakeRoom(ledger, share);
                }, error);
                if (changed) LetThrough(address, crowded, afresh);
                return changed;
            }
            bool taken = false;
            if (!TryTake(deadline, &waiting, &crowded, &taken, error)) return false;
            if (taken) {
                LetThrough(address, crowded, afresh);
                return true;
            }
        }
        std::this_thread::sleep_for(kRoomPause);
    }
}

bool NeighbourRoom::Try(uint32_t address, Clock::time_point deadline, bool* room, std::string* error) {
    std::lock_guard<std::mutex> hold(lock_);
    *room = probes_.count(address) != 0;
    if (*room) return true;
    bool crowded = true;
    if (!TryTake(deadline, &try_waiting_, &crowded, room, error)) return false;
    if (*room) LetThrough(address, crowded, false);
    return true;
}

bool NeighbourRoom::EntryMade(uint32_t address, std::string* error) {
    std::lock_guard<std::mutex> hold(lock_);
    const auto found = probes_.find(address);
    if (found == probes_.end() || found->second.Made) return true;
    found->second.Made = true;
    return Change(Clock::now() + kLedgerPatience,
                  [](RoomLedger* ledger, RoomShare* share) { ::EntryMade(ledger, share); }, error);
}

void NeighbourRoom::RemoveUnansweredEntry(uint32_t address) {
    std::lock_guard<std::mutex> hold(lock_);
    const auto found = probes_.find(address);
    if (found == probes_.end() || !found->second.Made || !may_remove_entries_) return;
    const Probe& probe = found->second;
    may_remove_entries_ = RemoveIfUnanswered(probe.Address, probe.InterfaceIndex, probe.HadEntry);
    probes_.erase(found);
}
