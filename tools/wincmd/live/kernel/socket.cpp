#include "live/kernel/socket.h"

#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <thread>

std::string SystemFailure(const std::string& what, int error_number) {
    return what + ": " + std::strerror(error_number);
}

bool BindAndReadBack(int descriptor, sockaddr* local, socklen_t length, const char* what,
                     std::string* error) {
    socklen_t read_back = length;
    if (bind(descriptor, local, length) != 0 || getsockname(descriptor, local, &read_back) != 0) {
        *error = SystemFailure(std::string("cannot bind ") + what, errno);
        return false;
    }
    return true;
}

Socket::Socket(Socket&& other) noexcept : descriptor_(other.descriptor_) { other.descriptor_ = -1; }

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        Close();
        descriptor_ = other.descriptor_;
        other.descriptor_ = -1;
    }
    return *this;
}

Socket::~Socket() { Close(); }

void Socket::Close() {
    if (descriptor_ >= 0) close(descriptor_);
    descriptor_ = -1;
}

Socket Socket::Open(int domain, int type, int protocol, const char* what, std::string* error) {
    Socket opened(socket(domain, type | SOCK_CLOEXEC, protocol));
    if (!opened.IsOpen()) *error = SystemFailure(std::string("cannot open ") + what, errno);
    return opened;
}

namespace {

void ReportSendErrors(int descriptor, int on) {
    setsockopt(descriptor, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
}

// An error that an ICMP message about an earlier datagram left on the socket
// would fail the next send, unsent; it belonged to that datagram, whose wait
// has seen it or will go without it.
void ClearPendingError(int descriptor) {
    int pending = 0;
    socklen_t length = sizeof pending;
    getsockopt(descriptor, SOL_SOCKET, SO_ERROR, &pending, &length);
}

}  // namespace

bool SendWhileTableFull(int descriptor, Clock::time_point give_up, const std::function<bool()>& send) {
    ReportSendErrors(descriptor, 1);
    bool went = false;
    for (;;) {
        ClearPendingError(descriptor);
        went = send();
        // ENOBUFS: the kernel's neighbour table, shared by every namespace, is
        // full of addresses still being resolved. Those that get no answer
        // fail after three probes a second apart and make room.
        if (went || errno != ENOBUFS || Clock::now() + kFullTablePause >= give_up) break;
        std::this_thread::sleep_for(kFullTablePause);
    }
    const int send_error = errno;
    ReportSendErrors(descriptor, 0);  // also drops what queued meanwhile
    errno = send_error;
    return went;
}

int PollSliceMs(Clock::time_point now, Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    return static_cast<int>(std::min<long long>(left.count(), 999)) + 1;
}

WaitResult WaitReadable(const Socket& socket, Clock::time_point deadline, const char* what,
                        std::string* error) {
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (now >= deadline) return WAIT_DEADLINE;
        pollfd readable{socket.Descriptor(), POLLIN, 0};
        const int ready = poll(&readable, 1, PollSliceMs(now, deadline));
        if (ready < 0 && errno != EINTR) {
            *error = SystemFailure(std::string("cannot wait for ") + what, errno);
            return WAIT_FAILED;
        }
        if (ready > 0) return WAIT_READABLE;
    }
}

bool IsUnreachableError(int error_number) {
    return error_number == EHOSTUNREACH || error_number == ENETUNREACH ||
           error_number == EHOSTDOWN || error_number == ECONNREFUSED || error_number == EPROTO;
}

// getrandom costs one system call; a random_device would first probe the
// processor, which in a virtual machine costs more than a whole request.
void RandomBytes(void* bytes, size_t count) {
    if (getrandom(bytes, count, GRND_NONBLOCK) == static_cast<ssize_t>(count)) return;
    const uint64_t mixed = static_cast<uint64_t>(Clock::now().time_since_epoch().count()) ^
                           (static_cast<uint64_t>(getpid()) << 40);
    auto* out = static_cast<unsigned char*>(bytes);
    for (size_t i = 0; i < count; ++i) out[i] = static_cast<unsigned char>(mixed >> (8 * (i % 8)));
}
