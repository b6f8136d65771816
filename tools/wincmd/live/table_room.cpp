#include "live/table_room.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/neighbour.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "live/neighbour_room.h"

namespace {

// The ledger's name in the run's work folder.
constexpr char kLedgerName[] = "neighbour_room";
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
    std::string LedgerPath;  // empty: the process counts alone
    int LedgerFile = -1;
    RoomLedger Own{};
    bool Joined = false;
    bool TryWaiting = false;  // a TryNeighbourRoom found no room and its caller waits
    bool MayRemoveEntries = HasNetAdmin();  // until the kernel says otherwise
    std::unordered_map<uint32_t, Probe> Probes;  // by address
};

// Never destroyed: a name look-up's thread, which may outlive the tool's
// main thread (name_lookup.h), can still ask for room as the process ends.
Room& gRoom = *new Room;

int64_t NowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// The folder of the regular file open as report, with its separator.
std::string FolderOfReport(FILE* report) {
    struct stat status {};
    const int descriptor = fileno(report);
    if (descriptor < 0 || fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) return "";
    char path[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(descriptor);
    const ssize_t length = readlink(link.c_str(), path, sizeof path - 1);
    if (length <= 0) return "";
    const std::string file(path, static_cast<size_t>(length));
    const size_t separator = file.rfind('/');
    return separator == std::string::npos ? "" : file.substr(0, separator + 1);
}

bool SameFile(int descriptor, const std::string& path) {
    struct stat open_file {};
    struct stat named {};
    return fstat(descriptor, &open_file) == 0 && stat(path.c_str(), &named) == 0 &&
           open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino;
}

// Locks the ledger file that the path names now: the last member may have
// removed the one this process opened, and a new one is made.
bool LockLedgerFile(Room* room) {
    for (int tries = 0; tries < 8; ++tries) {
        if (room->LedgerFile < 0) {
            room->LedgerFile = open(room->LedgerPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            if (room->LedgerFile < 0) return false;
        }
        while (flock(room->LedgerFile, LOCK_EX) != 0) {
            if (errno != EINTR) return false;
        }
        if (SameFile(room->LedgerFile, room->LedgerPath)) return true;
        close(room->LedgerFile);
        room->LedgerFile = -1;
    }
    return false;
}

// Runs change on the shared ledger under its lock, or on the process's own
// when it has none or cannot lock it. Callers hold room->Lock.
template <typename Change>
void ChangeLedger(Room* room, Change change) {
    if (room->LedgerPath.empty() || !LockLedgerFile(room)) {
        change(&room->Own);
        return;
    }
    RoomLedger ledger{};
    if (pread(room->LedgerFile, &ledger, sizeof ledger, 0) != static_cast<ssize_t>(sizeof ledger)) {
        ledger = RoomLedger{};
    }
    change(&ledger);
    if (pwrite(room->LedgerFile, &ledger, sizeof ledger, 0) != static_cast<ssize_t>(sizeof ledger)) {
        room->Own = ledger;  // the others cannot see it; this process goes on with it
    }
    flock(room->LedgerFile, LOCK_UN);
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
    ChangeLedger(room, [&](RoomLedger* ledger) {
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

// The adapter whose subnet holds address, whose entry the probe makes.
unsigned InterfaceFor(uint32_t address) {
    std::vector<LiveInterface> interfaces;
    std::string error;
    if (!ListInterfaces(&interfaces, &error)) return 0;
    for (const LiveInterface& interface : interfaces) {
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
    probe.InterfaceIndex = InterfaceFor(address);
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
    const std::string folder = FolderOfReport(report);
    if (!folder.empty()) gRoom.LedgerPath = folder + kLedgerName;
    ChangeLedger(&gRoom, [](RoomLedger* ledger) { JoinRoom(ledger, NowNs()); });
    gRoom.Joined = true;
}

void LeaveNeighbourRoom(FILE* errors, const char* tool) {
    std::string line;
    {
        std::lock_guard<std::mutex> hold(gRoom.Lock);
        if (!gRoom.Joined) return;
        ChangeLedger(&gRoom, [&](RoomLedger* ledger) {
            for (const auto& [address, probe] : gRoom.Probes) {
                if (!probe.Made) EntryMade(ledger);
            }
            if (!LeaveRoom(ledger, NowNs())) return;
            line = SlowedSweepLine(*ledger);
            // A shared ledger with something to say waits for the end of the
            // run (SayNeighbourRoomWaits): a sweep may have no member for a
            // moment between two probes.
            if (!gRoom.LedgerPath.empty() && line.empty()) unlink(gRoom.LedgerPath.c_str());
        });
        if (!gRoom.LedgerPath.empty()) line.clear();
        if (gRoom.LedgerFile >= 0) close(gRoom.LedgerFile);
        gRoom.LedgerFile = -1;
        gRoom.Joined = false;
    }
    if (!line.empty()) std::fprintf(errors, "wincmd: %s: %s\n", tool, line.c_str());
}

void SayNeighbourRoomWaits(const std::string& work_file, FILE* errors) {
    const size_t separator = work_file.rfind('/');
    if (separator == std::string::npos) return;
    Room room;
    room.LedgerPath = work_file.substr(0, separator + 1) + kLedgerName;
    if (access(room.LedgerPath.c_str(), F_OK) != 0) return;
    std::string line;
    ChangeLedger(&room, [&](RoomLedger* ledger) {
        if (ledger->Members > 0) return;  // still probing
        line = SlowedSweepLine(*ledger);
        unlink(room.LedgerPath.c_str());
    });
    if (room.LedgerFile >= 0) close(room.LedgerFile);
    if (!line.empty()) std::fprintf(errors, "wincmd: ping: %s\n", line.c_str());
}

void AwaitNeighbourRoom(uint32_t address, Clock::time_point deadline) {
    bool waiting = false;
    for (;;) {
        {
            std::lock_guard<std::mutex> hold(gRoom.Lock);
            if (FindProbe(&gRoom, address) != nullptr) {  // let through before, or by another thread
                if (waiting) ChangeLedger(&gRoom, [](RoomLedger* ledger) { StopWaiting(ledger, NowNs()); });
                return;
            }
            bool crowded = true;
            if (Clock::now() >= deadline) {
                ChangeLedger(&gRoom, [&](RoomLedger* ledger) {
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
    ChangeLedger(&gRoom, [](RoomLedger* ledger) { EntryMade(ledger); });
}

void RemoveUnansweredEntry(uint32_t address) {
    std::lock_guard<std::mutex> hold(gRoom.Lock);
    const Probe* probe = FindProbe(&gRoom, address);
    if (probe == nullptr || !probe->Made || !gRoom.MayRemoveEntries) return;
    gRoom.MayRemoveEntries = RemoveIfUnanswered(*probe);
    gRoom.Probes.erase(address);
}

void RemoveUnansweredEntries() {
    std::vector<uint32_t> made;
    {
        std::lock_guard<std::mutex> hold(gRoom.Lock);
        for (const auto& [address, probe] : gRoom.Probes) {
            if (probe.Made) made.push_back(address);
        }
    }
    for (uint32_t address : made) RemoveUnansweredEntry(address);
}
