// What the neighbour room asks of the kernel (RoomSystem, neighbour_room.h): the
// monotonic clock, the table's count, whether a member's process lives, and
// whether this process may remove entries.
#include <errno.h>
#include <linux/capability.h>
#include <linux/neighbour.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "live/kernel/netlink.h"
#include "live/room/neighbour_room.h"

namespace {

// Whether the process may change the neighbour table: CAP_NET_ADMIN in its
// effective set, which root has.
bool HasNetAdmin() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (syscall(SYS_capget, &header, data) != 0) return geteuid() == 0;
    return (data[CAP_NET_ADMIN / 32].effective & (1u << (CAP_NET_ADMIN % 32))) != 0;
}

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

// When the process started, in clock ticks since boot (field 22 of its
// stat); 0 when it cannot be read. The command's name, field 2, is in
// parentheses and may hold blanks: the fields are counted after its end.
int64_t StartOf(int process) {
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%d/stat", process);
    std::FILE* stat = std::fopen(path, "re");
    if (stat == nullptr) return 0;
    char text[1024];
    const size_t length = std::fread(text, 1, sizeof text - 1, stat);
    std::fclose(stat);
    text[length] = '\0';
    const char* field = std::strrchr(text, ')');
    for (int k = 2; field != nullptr && k < 22; ++k) field = std::strchr(field + 1, ' ');
    return field == nullptr ? 0 : std::strtoll(field + 1, nullptr, 10);
}

// False for a process that is gone, or whose id another process has taken
// since (where the start times can be read).
bool IsAlive(const RoomOwner& owner) {
    const int64_t started = StartOf(owner.Process);
    if (started > 0 && owner.Started > 0) return started == owner.Started;
    return kill(owner.Process, 0) == 0 || errno == EPERM;
}

}  // namespace

RoomSystem KernelRoomSystem() { return {NowNs, CountTable, IsAlive, HasNetAdmin()}; }

// A process's start does not change: read once by each process, which may
// run many commands (a worker of the run's interpreter).
RoomOwner ThisProcess() {
    static RoomOwner known{};
    const auto process = static_cast<int32_t>(getpid());
    if (known.Process != process) known = {process, 0, StartOf(process)};
    return known;
}
