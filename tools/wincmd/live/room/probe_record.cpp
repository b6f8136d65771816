#include "live/room/probe_record.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/neighbour.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

#include "live/kernel/socket.h"

namespace {

constexpr char kRecordPrefix[] = "probe_";
constexpr int64_t kSlackTicks = 2;

}  // namespace

int64_t MonotonicNowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

int64_t ClockTickNs() {
    const long ticks = sysconf(_SC_CLK_TCK);
    return 1'000'000'000 / (ticks > 0 ? ticks : 100);
}

bool AnswersProbe(const ProbeRecord& probe, unsigned state, int64_t confirmed_ticks_ago,
                  int64_t now_ns, int64_t tick_ns) {
    if ((state & (NUD_PERMANENT | NUD_NOARP)) != 0 || probe.EchoAnswered != 0) return true;
    if (confirmed_ticks_ago < 0) return false;
    const int64_t confirmed_ns = now_ns - confirmed_ticks_ago * tick_ns;
    return confirmed_ns + kSlackTicks * tick_ns >= probe.StartedNs;
}

std::string ProbeRecordPath(const std::string& folder, uint32_t address) {
    char name[sizeof kRecordPrefix + 8];
    std::snprintf(name, sizeof name, "%s%08x", kRecordPrefix, static_cast<unsigned>(address));
    return folder + name;
}

ProbeRecordFile::~ProbeRecordFile() {
    if (descriptor_ >= 0) close(descriptor_);
}

// The record is written whole at its start each time: no file is emptied,
// which on some file systems costs a disk write at its close.
bool ProbeRecordFile::Write(int* error_number, std::string* error) {
    const ssize_t written = pwrite(descriptor_, &record_, sizeof record_, 0);
    if (written == static_cast<ssize_t>(sizeof record_)) return true;
    *error_number = written < 0 ? errno : ENOSPC;  // a short write: the disk is full
    *error = SystemFailure("cannot write the probe's record " + path_, *error_number);
    return false;
}

bool ProbeRecordFile::Start(const std::string& folder, uint32_t address, int64_t now_ns,
                            int* error_number, std::string* error) {
    if (folder.empty()) return true;
    path_ = ProbeRecordPath(folder, address);
    descriptor_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor_ < 0) {
        *error_number = errno;
        *error = SystemFailure("cannot write the probe's record " + path_, *error_number);
        return false;
    }
    record_ = {now_ns, 0, 0};
    return Write(error_number, error);
}

bool ProbeRecordFile::Answered(int* error_number, std::string* error) {
    if (descriptor_ < 0 || record_.EchoAnswered != 0) return true;
    record_.EchoAnswered = 1;
    return Write(error_number, error);
}

bool TakeProbeRecord(const std::string& folder, uint32_t address, ProbeRecord* record) {
    if (folder.empty()) return false;
    const std::string path = ProbeRecordPath(folder, address);
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (descriptor < 0) return false;
    const ssize_t read = pread(descriptor, record, sizeof *record, 0);
    close(descriptor);
    unlink(path.c_str());
    return read == static_cast<ssize_t>(sizeof *record);
}
