// What every socket of the live machine shares: one owner that closes it
// once, one wait until it is readable or a deadline passes, the errors that
// say a request will get no answer, and random bytes that tell requests apart.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

using Clock = std::chrono::steady_clock;

// A socket descriptor with one owner: closed once, when its owner goes; it
// can be moved to another owner, never copied.
class Socket {
public:
    Socket() = default;
    explicit Socket(int descriptor) : descriptor_(descriptor) {}
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket();

    // A new socket, as socket(2) makes it (with SOCK_CLOEXEC added); one that
    // is not open, with the reason, when it cannot be had.
    static Socket Open(int domain, int type, int protocol, const char* what, std::string* error);

    bool IsOpen() const { return descriptor_ >= 0; }
    int Descriptor() const { return descriptor_; }

private:
    void Close();

    int descriptor_ = -1;
};

// A failed call as a reason: what was tried, then the system's words for the
// error number.
std::string SystemFailure(const std::string& what, int error_number);

// Binds the socket to local, in which the kernel chooses what is left 0 (a
// port, a netlink port id), and reads back into local what it chose. False
// with the reason, which names what (the socket), when either step fails.
bool BindAndReadBack(int descriptor, sockaddr* local, socklen_t length, const char* what,
                     std::string* error);

// Room for the largest UDP datagram, to receive into: not filled with zeros
// first, which for 64 KB a request cost more than the receiving.
class DatagramBuffer {
public:
    unsigned char* data() { return bytes_.get(); }
    size_t size() const { return kSize; }

private:
    static constexpr size_t kSize = 65535;
    std::unique_ptr<unsigned char[]> bytes_{new unsigned char[kSize]};
};

// A request that finds the kernel's neighbour table full (ENOBUFS) is sent
// again after a pause, until this long has passed without room. The probes
// of a sweep wait for room before they send (neighbour_room.h), so only a table
// that others keep full makes a request wait here.
constexpr auto kFullTablePause = std::chrono::milliseconds(20);
constexpr auto kFullTableWait = std::chrono::seconds(60);

// Sends a datagram with send (sendto on descriptor) and, while the kernel
// finds no room for the target's neighbour entry (ENOBUFS), tries again a
// few times a second until give_up. The socket reports that error only
// while IP_RECVERR is on (raw and UDP sockets drop such a datagram in
// silence otherwise), so it is on for the sends alone: later ICMP errors
// never queue on the socket; an error that an earlier datagram left pending
// is dropped first, so that it fails no send. False with errno set when it
// did not go out.
bool SendWhileTableFull(int descriptor, Clock::time_point give_up, const std::function<bool()>& send);

// The time-out of one poll that waits toward deadline from now: at most a
// second, so that no wait overflows poll's int, and at least a millisecond.
int PollSliceMs(Clock::time_point now, Clock::time_point deadline);

enum WaitResult {
    WAIT_READABLE,
    WAIT_DEADLINE,  // the deadline passed with nothing to read
    WAIT_FAILED,    // see the error
};

// Waits until the socket has something to read or the deadline has passed;
// signals do not end the wait. what names what is awaited in an error ("an
// echo reply").
WaitResult WaitReadable(const Socket& socket, Clock::time_point deadline, const char* what,
                        std::string* error);

// Whether a socket error says that the request cannot reach its target or
// that the target will not answer it (an ICMP error came back): the request
// gets no answer, which is not a failure of the machine.
bool IsUnreachableError(int error_number);

// Fills bytes with random ones from the kernel, without waiting for its pool.
// Should that fail, the clock and the process id still set this process's
// requests apart from those of others.
void RandomBytes(void* bytes, size_t count);
