#include "live/room_ledger_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The ledger's name in the run's work folder.
constexpr char kLedgerName[] = "neighbour_room";

bool SameFile(int descriptor, const std::string& path) {
    struct stat open_file {};
    struct stat named {};
    return fstat(descriptor, &open_file) == 0 && stat(path.c_str(), &named) == 0 &&
           open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino;
}

// Locks the ledger file that the path names now: the last member may have
// removed the one this process opened, and a new one is made.
bool LockLedgerFile(RoomLedgerFile* file) {
    for (int tries = 0; tries < 8; ++tries) {
        if (file->Descriptor < 0) {
            file->Descriptor = open(file->Path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            if (file->Descriptor < 0) return false;
        }
        while (flock(file->Descriptor, LOCK_EX) != 0) {
            if (errno != EINTR) return false;
        }
        if (SameFile(file->Descriptor, file->Path)) return true;
        CloseLedger(file);
    }
    return false;
}

}  // namespace

std::string LedgerPathForReport(FILE* report) {
    struct stat status {};
    const int descriptor = fileno(report);
    if (descriptor < 0 || fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) return "";
    char path[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(descriptor);
    const ssize_t length = readlink(link.c_str(), path, sizeof path - 1);
    if (length <= 0) return "";
    return LedgerPathBeside(std::string(path, static_cast<size_t>(length)));
}

std::string LedgerPathBeside(const std::string& work_file) {
    const size_t separator = work_file.rfind('/');
    return separator == std::string::npos ? "" : work_file.substr(0, separator + 1) + kLedgerName;
}

void ChangeLedger(RoomLedgerFile* file, const std::function<void(RoomLedger*)>& change) {
    if (file->Path.empty() || !LockLedgerFile(file)) {
        change(&file->Own);
        return;
    }
    RoomLedger ledger{};
    if (pread(file->Descriptor, &ledger, sizeof ledger, 0) != static_cast<ssize_t>(sizeof ledger)) {
        ledger = RoomLedger{};
    }
    change(&ledger);
    if (pwrite(file->Descriptor, &ledger, sizeof ledger, 0) != static_cast<ssize_t>(sizeof ledger)) {
        file->Own = ledger;  // the others cannot see it; this process goes on with it
    }
    flock(file->Descriptor, LOCK_UN);
}

void CloseLedger(RoomLedgerFile* file) {
    if (file->Descriptor >= 0) close(file->Descriptor);
    file->Descriptor = -1;
}
