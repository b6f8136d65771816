#include "live/table_room.h"

#include <errno.h>
#include <linux/capability.h>
#include <linux/neighbour.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "live/interfaces.h"
#include "live/kernel_answers.h"
#include "live/neighbour_room.h"
#include "live/netlink.h"
#include "live/room_ledger_file.h"

namespace {

constexpr auto kRoomPause = std::chrono::milliseconds(10);

// An address this process let through, and what it needs to remove the
// entry its probe made.
struct Probe {
    uint32_t Address;
    unsigned InterfaceIndex;  // the adapter whose subnet holds it; 0: none
    bool HadEntry;            // an entry was there before the probe
    bool Made;                // its first datagram went
};

// Whether the process may change the neighbour table: CAP_NET_ADMIN in its
// effective set, which root has.
bool HasNetAdmin() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (syscall(SYS_capget, &header, data) != 0) return geteuid() == 0;
    return (data[CAP_NET_ADMIN / 32].effective & (1u << (CAP_NET_ADMIN % 32))) != 0;
}

// The process's side of the room: its ledger file, or its own ledger.
struct Room {
    std::mutex Lock;
    RoomLedgerFile Ledger;
    bool Joined = false;
    bool TryWaiting = false;  // a TryNeighbourRoom found no room and its caller waits
    bool MayRemoveEntries = HasNetAdmin();  // until the kernel says otherwise
    std::unordered_map<uint32_t, Probe> Probes;  // by address
    // The adapters, read once: a sweep of many addresses needs them for each.
    std::vector<LiveInterface> Interfaces;
    bool InterfacesRead = false;
};

// Never destroyed: a name look-up's thread, which may outlive the tool's
// main thread (resolver.h), can still ask for room as the process ends.
Room& gRoom = *new Room;

int64_t NowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// The entries the kernel cannot reclaim for a new one: all of them, less the
// failed ones of this namespace when the limit is near (the kernel reclaims
// those on demand; other namespaces' cannot be seen). False when the table
// cannot be read: the probes then meet a full table at their send.
bool CountTable(int in_flight, int* limit, int* in_use) {
    NeighbourTableSize size;
    std::string error;
    if (!ReadNeighbourTableSize(&size, &error)) return false;
    *limit = size.Limit;
    *in_use = size.Entries;
    if (ProbesMayStart({size.Limit, size.Entries, in_flight}) > 0) return true;
    std::vector<NeighbourEntry> entries;
    if (!ReadNeighbourTable(&entries, &error)) return true;
    for (const NeighbourEntry& entry : entries) {
        if ((entry.State & NUD_FAILED) != 0) --*in_use;
    }
    return true;
}

// Takes room for one probe when the ledger has it, counting the table when
// the count is old. waiting says whether this probe is counted as waiting.
bool TryTakeRoom(Room* room, bool* waiting, bool* crowded) {
    bool taken = false;
    ChangeLedger(&room->Ledger, [&](RoomLedger* ledger) {
        int64_t now = NowNs();
        RoomStep step = NextRoomStep(*ledger, now);
        if (step == ROOM_COUNT_TABLE) {
            int limit = 0;
            int in_use = 0;
            // A table that cannot be counted lets the probe through: its
            // send meets a full table itself.
            step = ROOM_TAKE;
            if (CountTable(ledger->InFlight, &limit, &in_use)) {
                now = NowNs();
                RecordTableCount(ledger, limit, in_use, now);
                step = NextRoomStep(*ledger, now);
            }
        }
        taken = step == ROOM_TAKE;
        *crowded = IsCrowded(*ledger);
        if (taken) {
            TakeRoom(ledger);
            if (*waiting) StopWaiting(ledger, now);
        } else if (!*waiting) {
            StartWaiting(ledger, now);
        }
    });
    *waiting = !taken;
    return taken;
}

// The adapter whose subnet holds address, whose entry the probe makes
// (caller holds the lock).
unsigned InterfaceFor(Room* room, uint32_t address) {
    if (!room->InterfacesRead) {
        std::string error;
        room->Interfaces.clear();
        room->InterfacesRead = ListInterfaces(&room->Interfaces, &error);
        if (!room->InterfacesRead) return 0;
    }
    for (const LiveInterface& interface : room->Interfaces) {
        if (!ListsAsAdapter(interface.Flags, interface.HardwareType, interface.HardwareAddress.size())) {
            continue;
        }
        for (size_t i = 0; i < interface.Addresses.size() && i < interface.Netmasks.size(); ++i) {
            const uint32_t mask = interface.Netmasks[i];
            if ((interface.Addresses[i] & mask) == (address & mask)) return interface.Index;
        }
    }
    return 0;
}

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

// What removing the probe's entry later needs, when it may be removed: its
// interface and whether an entry was there before (then it is not the
// probe's).
Probe NewProbe(uint32_t address, bool may_remove) {
    Probe probe{address, 0, true, false};
    if (!may_remove) return probe;
    probe.InterfaceIndex = InterfaceFor(&gRoom, address);
    NeighbourEntry entry{};
    if (probe.InterfaceIndex != 0 && !FindEntry(address, probe.InterfaceIndex, &entry, &probe.HadEntry)) {
        probe.HadEntry = true;
    }
    return probe;
}

Probe* FindProbe(Room* room, uint32_t address) {
    const auto found = room->Probes.find(address);
    return found == room->Probes.end() ? nullptr : &found->second;
}

// Removes the probe's entry when it is its own and never resolved; false
// when the kernel says the process may not.
bool RemoveIfUnanswered(const Probe& probe) {
    if (probe.HadEntry || probe.InterfaceIndex == 0) return true;
    NeighbourEntry entry{};
    bool exists = false;
    if (!FindEntry(probe.Address, probe.InterfaceIndex, &entry, &exists) || !exists ||
        !IsUnansweredEntry(entry.State)) {
        return true;
    }
    int refusal = 0;
    std::string error;
    return DeleteNeighbourEntry(probe.Address, probe.InterfaceIndex, &refusal, &error) ||
           refusal != EPERM;
}

// Records the address as let through. Its entry is worth removing later only
// while the table is crowded; otherwise the table drains by itself and the
// probe spares the look-ups (caller holds the lock).
void LetThrough(uint32_t address, bool crowded) {
    gRoom.Probes.emplace(address, NewProbe(address, gRoom.MayRemoveEntries && crowded));
}

}  // namespace

void JoinNeighbourRoom(FILE* report) {
    std::lock_guard<std::mutex> hold(gRoom.Lock);
    if (gRoom.Joined) return;
    gRoom.Ledger.Path = LedgerPathForReport(report);
    ChangeLedger(&gRoom.Ledger, [](RoomLedger* ledger) { JoinRoom(ledger, NowNs()); });
    gRoom.Joined = true;
}

void LeaveNeighbourRoom(FILE* errors, const char* tool) {
    std::string line;
    {
        std::lock_guard<std::mutex> hold(gRoom.Lock);
        if (!gRoom.Joined) return;
        ChangeLedger(&gRoom.Ledger, [&](RoomLedger* ledger) {
            for (const auto& [address, probe] : gRoom.Probes) {
                if (!probe.Made) EntryMade(ledger);
            }
            if (!LeaveRoom(ledger, NowNs())) return;
            line = SlowedSweepLine(*ledger);
            // A shared ledger with something to say waits for the end of the
            // run (SayNeighbourRoomWaits): a sweep may have no member for a
            // moment between two probes.
            if (!gRoom.Ledger.Path.empty() && line.empty()) unlink(gRoom.Ledger.Path.c_str());
        });
        if (!gRoom.Ledger.Path.empty()) line.clear();
        CloseLedger(&gRoom.Ledger);
        gRoom.Ledger.Path.clear();  // a look-up thread that comes later counts alone
        gRoom.Joined = false;
    }
    if (!line.empty()) std::fprintf(errors, "wincmd: %s: %s\n", tool, line.c_str());
}

void SayNeighbourRoomWaits(const std::string& work_file, FILE* errors) {
    RoomLedgerFile file;
    file.Path = LedgerPathBeside(work_file);
    if (file.Path.empty() || access(file.Path.c_str(), F_OK) != 0) return;
    std::string line;
    ChangeLedger(&file, [&](RoomLedger* ledger) {
        if (ledger->Members > 0) return;  // still probing
        line = SlowedSweepLine(*ledger);
        unlink(file.Path.c_str());
    });
    CloseLedger(&file);
    if (!line.empty()) std::fprintf(errors, "wincmd: ping: %s\n", line.c_str());
}

void AwaitNeighbourRoom(uint32_t address, Clock::time_point deadline) {
    bool waiting = false;
    for (;;) {
        {
            std::lock_guard<std::mutex> hold(gRoom.Lock);
            if (FindProbe(&gRoom, address) != nullptr) {  // let through before, or by another thread
                if (waiting) {
                    ChangeLedger(&gRoom.Ledger, [](RoomLedger* ledger) { StopWaiting(ledger, NowNs()); });
                }
                return;
            }
            bool crowded = true;
            if (Clock::now() >= deadline) {
                ChangeLedger(&gRoom.Ledger, [&](RoomLedger* ledger) {
                    if (waiting) StopWaiting(ledger, NowNs());
                    TakeRoom(ledger);
                });
                LetThrough(address, crowded);
                return;
            }
            if (TryTakeRoom(&gRoom, &waiting, &crowded)) {
                LetThrough(address, crowded);
                return;
            }
        }
        std::this_thread::sleep_for(kRoomPause);
    }
}

bool TryNeighbourRoom(uint32_t address) {
    std::lock_guard<std::mutex> hold(gRoom.Lock);
    if (FindProbe(&gRoom, address) != nullptr) return true;
    bool crowded = true;
    if (!TryTakeRoom(&gRoom, &gRoom.TryWaiting, &crowded)) return false;
    LetThrough(address, crowded);
    return true;
}

void NeighbourEntryMade(uint32_t address) {
    std::lock_guard<std::mutex> hold(gRoom.Lock);
    Probe* probe = FindProbe(&gRoom, address);
    if (probe == nullptr || probe->Made) return;
    probe->Made = true;
    ChangeLedger(&gRoom.Ledger, [](RoomLedger* ledger) { EntryMade(ledger); });
}

void RemoveUnansweredEntry(uint32_t address) {
    std::lock_guard<std::mutex> hold(gRoom.Lock);
    const Probe* probe = FindProbe(&gRoom, address);
    if (probe == nullptr || !probe->Made || !gRoom.MayRemoveEntries) return;
    gRoom.MayRemoveEntries = RemoveIfUnanswered(*probe);
    gRoom.Probes.erase(address);
}
