// What arp -a ADDRESS needs to know of this run's probe to the address, which
// ran before it as a command of its own (ping): when the probe began and
// whether an echo reply came. The probe keeps it in a small file of the
// run's work folder; arp reads it and removes it. A neighbour entry is an
// answer to the probe only when the kernel confirmed it after the probe
// began, or when the host answered the echo; a permanent entry always is.
// Outside a run (no work folder) nothing is recorded and arp lists the
// table as it is.
#pragma once

#include <cstdint>
#include <string>

struct ProbeRecord {
    int64_t StartedNs;      // CLOCK_MONOTONIC, before any cached entry was dropped
    int32_t EchoAnswered;   // 1 once an echo reply came
    int32_t Reserved;       // always 0
};

// The monotonic clock in nanoseconds, which the kernel's neighbour ages follow.
int64_t MonotonicNowNs();

// The length of one of the kernel's clock ticks (USER_HZ), in which the
// neighbour table gives ages.
int64_t ClockTickNs();

// Whether an entry in the given NUD_* state, last confirmed ticks_ago ticks
// before now_ns (-1: unknown), answers the probe. The kernel rounds ages down
// to whole ticks and counts in jiffies: an entry confirmed up to two ticks
// before the probe began still counts, which no earlier run's entry is.
bool AnswersProbe(const ProbeRecord& probe, unsigned state, int64_t confirmed_ticks_ago,
                  int64_t now_ns, int64_t tick_ns);

// The record's path for address in the run's work folder (which ends with
// its separator).
std::string ProbeRecordPath(const std::string& folder, uint32_t address);

// The probe's side: Start before anything is sent, Answered at the first
// echo reply. A record that cannot be written fails with the system's reason
// (*error_number), since arp could then not tell this run's answers.
class ProbeRecordFile {
public:
    ProbeRecordFile() = default;
    ProbeRecordFile(const ProbeRecordFile&) = delete;
    ProbeRecordFile& operator=(const ProbeRecordFile&) = delete;
    ~ProbeRecordFile();

    // folder empty: outside a run, nothing is written.
    bool Start(const std::string& folder, uint32_t address, int64_t now_ns, int* error_number,
               std::string* error);
    bool Answered(int* error_number, std::string* error);

private:
    bool Write(int* error_number, std::string* error);
    std::string path_;
    int descriptor_ = -1;
    ProbeRecord record_{};
};

// arp's side: the record of this run's probe to address, removed once read;
// false when there is none (outside a run, or no probe ran).
bool TakeProbeRecord(const std::string& folder, uint32_t address, ProbeRecord* record);
