#include "live/room/room_ledger_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <thread>

#include "reports/lost_work_file.h"

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

// Writes size bytes at the file's start; 0, or the system's reason taken at
// the failing call. A short write is written on, so that the call that fails
// says why (a full disk) rather than an older errno.
int WriteWhole(int descriptor, const void* data, size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t written = pwrite(descriptor, bytes + done, size - done, static_cast<off_t>(done));
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return errno;
        if (written == 0) return ENOSPC;
        done += static_cast<size_t>(written);
    }
    return 0;
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
            const int reason = errno;
            NoteLostWorkFolderFile(reason);
            *error = SystemFailure("cannot open the neighbour room's ledger " + file->Path, reason);
            return false;
        }
    }
    if (!LockBy(*file, deadline, error)) return false;
    // Some twelve kilobytes: off the stack of a look-up thread.
    auto ledger = std::make_unique<RoomLedger>();
    ReadLedger(file->Descriptor, ledger.get());
    change(ledger.get());
    const size_t size = LedgerSize(*ledger);
    const int reason = WriteWhole(file->Descriptor, ledger.get(), size);
    if (reason != 0) {
        NoteLostWorkFolderFile(reason);
        *error = SystemFailure("cannot write the neighbour room's ledger " + file->Path, reason);
    }
    flock(file->Descriptor, LOCK_UN);
    return reason == 0;
}

void CloseLedger(RoomLedgerFile* file) {
    if (file->Descriptor >= 0) close(file->Descriptor);
    file->Descriptor = -1;
}
