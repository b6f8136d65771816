#include "live/room/room_ledger_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <thread>

namespace {

// The ledger's name in the run's work folder.
constexpr char kLedgerName[] = "neighbour_room";

// A lock held by another member is asked for again after this pause, which
// doubles up to the longest: a member holds it for a read and a write only.
constexpr auto kFirstLockPause = std::chrono::microseconds(50);
constexpr auto kLongestLockPause = std::chrono::milliseconds(2);

constexpr size_t kLedgerHeadSize = offsetof(RoomLedger, Shares);

size_t LedgerSize(const RoomLedger& ledger) {
    return kLedgerHeadSize + static_cast<size_t>(ledger.Members) * sizeof(RoomShare);
}

bool LockBy(const RoomLedgerFile& file, Clock::time_point deadline, std::string* error) {
    auto pause = std::chrono::duration_cast<Clock::duration>(kFirstLockPause);
    for (;;) {
        if (flock(file.Descriptor, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) {
            *error = SystemFailure("cannot lock the neighbour room's ledger " + file.Path, errno);
            return false;
        }
        if (Clock::now() + pause > deadline) {
            *error = "the neighbour room's ledger " + file.Path +
                     " stayed locked past the probe's deadline";
            return false;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::duration_cast<Clock::duration>(kLongestLockPause));
    }
}

}  // namespace

std::string LedgerPathInFolder(const std::string& folder) { return folder + kLedgerName; }

void ReadLedger(int descriptor, RoomLedger* ledger) {
    const ssize_t read = pread(descriptor, ledger, sizeof *ledger, 0);
    if (read < static_cast<ssize_t>(kLedgerHeadSize)) {
        *ledger = RoomLedger{};
        return;
    }
    const auto held = static_cast<int>((static_cast<size_t>(read) - kLedgerHeadSize) / sizeof(RoomShare));
    ledger->Members = std::clamp(ledger->Members, 0, held);
}

bool ChangeLedger(RoomLedgerFile* file, Clock::time_point deadline,
                  const std::function<void(RoomLedger*)>& change, std::string* error) {
    if (file->Descriptor < 0) {
        file->Descriptor = open(file->Path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (file->Descriptor < 0) {
            *error = SystemFailure("cannot open the neighbour room's ledger " + file->Path, errno);
            return false;
        }
    }
    if (!LockBy(*file, deadline, error)) return false;
    // Some twelve kilobytes: off the stack of a look-up thread.
    auto ledger = std::make_unique<RoomLedger>();
    ReadLedger(file->Descriptor, ledger.get());
    change(ledger.get());
    const size_t size = LedgerSize(*ledger);
    const bool written = pwrite(file->Descriptor, ledger.get(), size, 0) == static_cast<ssize_t>(size);
    if (!written) *error = SystemFailure("cannot write the neighbour room's ledger " + file->Path, errno);
    flock(file->Descriptor, LOCK_UN);
    return written;
}

void CloseLedger(RoomLedgerFile* file) {
    if (file->Descriptor >= 0) close(file->Descriptor);
    file->Descriptor = -1;
}
