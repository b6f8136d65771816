// The system resolver (hosts file, DNS) of the live machine, and name
// look-ups that run beside the echo, so that a resolver that is slow or never
// answers costs the probe no more than the look-up's time-out. Each look-up
// runs on a detached thread that owns its answer together with the waiter:
// getnameinfo cannot be cancelled, and a thread left behind after the
// deadline touches nothing the tool frees, nor keeps the process from ending.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The name a reverse look-up of the system resolver (getnameinfo with
// NI_NAMEREQD) gives: the name it wrote when it succeeded, else none. An
// address without a name and a resolver that cannot answer read alike, as on
// Windows: the ping header then shows the address alone.
std::string NameOfReverseLookup(int status, const char* name);

// The system resolver's name for an address; empty when it has none or
// cannot answer.
std::string LookUpName(uint32_t address);

// The system resolver's IPv4 address of a name.
bool LookUpAddress(const std::string& name, uint32_t* address, std::string* error);

// How long ping -a waits for a name after the echo request has left: the
// -w time-out when it was given, else a second.
unsigned long NameTimeoutMs(bool timeout_given, unsigned long timeout_ms);

class PendingName {
public:
    using Clock = std::chrono::steady_clock;

    // Starts look_up (which answers a name, or empty for none) on a thread of
    // its own.
    static PendingName Start(std::function<std::string()> look_up);

    // The name once the look-up has ended, waiting for it up to deadline;
    // empty when it has none or has not ended by then.
    std::string AwaitUntil(Clock::time_point deadline) const;

private:
    struct Answer;
    std::shared_ptr<Answer> answer_;
};
