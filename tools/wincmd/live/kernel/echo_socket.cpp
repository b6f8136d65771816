#include "live/kernel/echo_socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "live/kernel/icmp_answers.h"

namespace {

constexpr size_t kPayloadLength = 32;
constexpr size_t kRandomPartLength = 8;

// A random part first, which sets these requests apart from other pings'.
std::string EchoPayload() {
    unsigned char random[kRandomPartLength];
    RandomBytes(random, sizeof random);
    std::string payload(reinterpret_cast<const char*>(random), sizeof random);
    for (size_t i = kRandomPartLength; i < kPayloadLength; ++i) {
        payload += static_cast<char>('a' + (i - kRandomPartLength) % 23);  // as Windows fills it
    }
    return payload;
}

sockaddr_in SocketAddress(uint32_t address) {
    sockaddr_in socket_address{};
    socket_address.sin_family = AF_INET;
    socket_address.sin_addr.s_addr = htonl(address);
    return socket_address;
}

int ReceivedTtl(msghdr* message) {
    for (cmsghdr* part = CMSG_FIRSTHDR(message); part != nullptr; part = CMSG_NXTHDR(message, part)) {
        if (part->cmsg_level == IPPROTO_IP && part->cmsg_type == IP_TTL) {
            int ttl = 0;
            std::memcpy(&ttl, CMSG_DATA(part), sizeof ttl);
            return ttl;
        }
    }
    return kUnknownTtl;
}

double MillisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// A datagram socket's echo identifier is its port, which binding to port 0
// has the kernel choose.
bool BindEchoIdentifier(int descriptor, uint16_t* identifier, std::string* error) {
    sockaddr_in local = SocketAddress(INADDR_ANY);
    if (!BindAndReadBack(descriptor, reinterpret_cast<sockaddr*>(&local), sizeof local,
                         "the ICMP socket", error)) {
        return false;
    }
    *identifier = ntohs(local.sin_port);
    return true;
}

}  // namespace

bool EchoSocket::Open(std::string* error) {
    socket_ = Socket(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
    const int datagram_error = errno;
    if (socket_.IsOpen()) {
        const int on = 1;
        if (setsockopt(socket_.Descriptor(), IPPROTO_IP, IP_RECVTTL, &on, sizeof on) != 0) {
            *error = SystemFailure("cannot ask for the TTL of replies", errno);
            return false;
        }
        if (!BindEchoIdentifier(socket_.Descriptor(), &identifier_, error)) return false;
    } else {
        socket_ = Socket(socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
        if (!socket_.IsOpen()) {
            *error = std::string("cannot open an ICMP socket (datagram: ") +
                     std::strerror(datagram_error) + "; raw: " + std::strerror(errno) +
                     "): allow one of the user's groups in net.ipv4.ping_group_range, "
                     "or run with CAP_NET_RAW or as root";
            return false;
        }
        raw_ = true;
        identifier_ = static_cast<uint16_t>(getpid() & 0xFFFF);
        // Spares the socket every other ICMP message; replies are matched anyway,
        // so a kernel without the filter costs nothing but wake-ups.
        icmp_filter only_replies{~(1u << ICMP_ECHOREPLY)};
        setsockopt(socket_.Descriptor(), SOL_RAW, ICMP_FILTER, &only_replies, sizeof only_replies);
    }
    payload_ = EchoPayload();
    return true;
}

bool CanOpenEchoSocket(std::string* error) {
    EchoSocket socket;
    return socket.Open(error);
}

std::string SendFailure(uint32_t address, int error_number) {
    const in_addr target{htonl(address)};
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &target, text, sizeof text);
    std::string failure =
        std::string(text) + ": " + SystemFailure("cannot send an echo request", error_number);
    // The kernel refuses so a send to a broadcast address from a socket that did
    // not ask for broadcasts, which no ping does: not a want of privileges.
    if (error_number == EACCES) failure += " (a broadcast address)";
    return failure;
}

bool EchoSocket::Send(uint32_t address, uint16_t sequence, Clock::time_point* sent,
                      std::string* error) {
    const std::string packet = EchoRequestPacket(identifier_, sequence, payload_);
    const sockaddr_in target = SocketAddress(address);
    const bool went = SendWhileTableFull(socket_.Descriptor(), Clock::now() + kFullTableWait, [&]() {
        *sent = Clock::now();
        return sendto(socket_.Descriptor(), packet.data(), packet.size(), 0,
                      reinterpret_cast<const sockaddr*>(&target), sizeof target) >= 0;
    });
    no_route_ = !went && (errno == ENETUNREACH || errno == EHOSTUNREACH);
    if (!went) *error = SendFailure(address, errno);
    return went;
}

bool EchoSocket::Receive(uint32_t address, uint16_t sequence, bool* matched, int* ttl,
                         std::string* error) {
    unsigned char data[1500];
    alignas(cmsghdr) char control[64];
    sockaddr_in from{};
    iovec part{data, sizeof data};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    *matched = false;
    ssize_t length = recvmsg(socket_.Descriptor(), &message, MSG_DONTWAIT);
    if (length < 0) {
        // An ICMP error about the request: it got no reply, which its time-out reports.
        if (errno == EAGAIN || errno == EINTR || IsUnreachableError(errno)) return true;
        *error = SystemFailure("cannot receive an echo reply", errno);
        return false;
    }
    const EchoQuery query{address, identifier_, sequence, payload_};
    *matched = MatchEchoReply(query, ntohl(from.sin_addr.s_addr), data, static_cast<size_t>(length),
                              raw_, raw_ ? kUnknownTtl : ReceivedTtl(&message), ttl);
    return true;
}

bool EchoSocket::AwaitReply(uint32_t address, uint16_t sequence, Clock::time_point sent,
                            Clock::time_point deadline, EchoOutcome* result, std::string* error) {
    *result = {false, 0, 0};
    for (;;) {
        switch (WaitReadable(socket_, deadline, "an echo reply", error)) {
        case WAIT_READABLE: break;
        case WAIT_DEADLINE: return true;
        case WAIT_FAILED: return false;
        }
        bool matched = false;
        int ttl = kUnknownTtl;
        if (!Receive(address, sequence, &matched, &ttl, error)) return false;
        if (matched) {
            *result = {true, MillisecondsBetween(sent, Clock::now()), ttl};
            return true;
        }
    }
}
