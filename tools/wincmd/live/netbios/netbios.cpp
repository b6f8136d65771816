#include "live/netbios/netbios.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>


bool OpenUdpSocket(bool broadcast, Socket* udp, std::string* error) {
    *udp = Socket::Open(AF_INET, SOCK_DGRAM, 0, "a UDP socket", error);
    if (!udp->IsOpen()) return false;
    const int on = 1;
    if (broadcast &&
        setsockopt(udp->Descriptor(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        *error = SystemFailure("cannot allow broadcasts on a UDP socket", errno);
        return false;
    }
    return true;
}

uint16_t RandomTransactionId() {
    uint16_t id = 0;
    RandomBytes(&id, sizeof id);
    return id;
}

sockaddr_in NameServiceAt(uint32_t address) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(kNetBiosNamePort);
    target.sin_addr.s_addr = htonl(address);
    return target;
}

namespace {

constexpr int kNodeStatusTries = 2;  // the request and one retry, as Windows sends it

// Sends the request; while the neighbour table has no room for the target's
// entry, tries again until the deadline, as the echo does.
bool SendRequest(int descriptor, uint32_t address, const std::string& request,
                 Clock::time_point deadline, std::string* error) {
    const sockaddr_in target = NameServiceAt(address);
    const bool went = SendWhileTableFull(descriptor, deadline, [&]() {
        return sendto(descriptor, request.data(), request.size(), 0,
                      reinterpret_cast<const sockaddr*>(&target), sizeof target) >= 0;
    });
    if (!went && !IsUnreachableError(errno)) {
        *error = SystemFailure("cannot send a NetBIOS request", errno);
        return false;
    }
    return true;
}

// Whether a datagram from an address is the answer awaited; it keeps what it needs.
using AnswerCheck = std::function<bool(const unsigned char* data, size_t length, uint32_t from)>;

// What came by the end of a wait.
enum Awaited {
    AWAITED_NOTHING,
    AWAITED_ANSWER,
    AWAITED_UNREACHABLE,  // the target said that no answer will come (a socket connected to it)
};

// Waits up to deadline for a datagram that passes the check.
bool AwaitAnswer(const Socket& udp, Clock::time_point deadline, const AnswerCheck& is_answer,
                 Awaited* awaited, std::string* error) {
    *awaited = AWAITED_NOTHING;
    DatagramBuffer data;
    for (;;) {
        switch (WaitReadable(udp, deadline, "a NetBIOS answer", error)) {
        case WAIT_READABLE: break;
        case WAIT_DEADLINE: return true;
        case WAIT_FAILED: return false;
        }
        sockaddr_in from{};
        socklen_t from_length = sizeof from;
        const ssize_t length = recvfrom(udp.Descriptor(), data.data(), data.size(), MSG_DONTWAIT,
                                        reinterpret_cast<sockaddr*>(&from), &from_length);
        if (length < 0) {
            if (IsUnreachableError(errno)) {
                *awaited = AWAITED_UNREACHABLE;
                return true;
            }
            if (errno == EAGAIN || errno == EINTR) continue;
            *error = SystemFailure("cannot receive a NetBIOS answer", errno);
            return false;
        }
        if (is_answer(data.data(), static_cast<size_t>(length), ntohl(from.sin_addr.s_addr))) {
            *awaited = AWAITED_ANSWER;
            return true;
        }
    }
}

// How a request goes out: to one host or to broadcast addresses, how often.
// The socket for one host is connected to it, so that the ICMP error of a
// host where nothing listens on port 137 ends the wait at once.
struct Sending {
    std::vector<uint32_t> Targets;
    bool Broadcast;
    int Tries;
};

bool ConnectTo(int descriptor, uint32_t address) {
    const sockaddr_in target = NameServiceAt(address);
    return connect(descriptor, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0;
}

// Sends the request to every target, the tries evenly spread up to the
// deadline, until an answer passes the check.
NetBiosOutcome Exchange(NeighbourRoom* room, const Sending& sending, const std::string& request,
                        Clock::time_point deadline, const AnswerCheck& is_answer,
                        std::string* error) {
    Socket udp;
    if (!OpenUdpSocket(sending.Broadcast, &udp, error)) return NETBIOS_ERROR;
    if (!sending.Broadcast && !ConnectTo(udp.Descriptor(), sending.Targets.front())) {
        if (IsUnreachableError(errno)) return NETBIOS_NO_ANSWER;
        *error = SystemFailure("cannot address a NetBIOS request", errno);
        return NETBIOS_ERROR;
    }
    // A request to one host makes its neighbour entry: it waits for room as
    // every probe of a sweep does, for the first try's share of the time, so
    // that a request still goes. A broadcast makes none.
    if (!sending.Broadcast &&
        !room->Await(sending.Targets.front(), Clock::now() + (deadline - Clock::now()) / sending.Tries,
                     error)) {
        return NETBIOS_ERROR;
    }
    const Clock::time_point start = Clock::now();
    for (int attempt = 1; attempt <= sending.Tries && Clock::now() < deadline; ++attempt) {
        for (uint32_t target : sending.Targets) {
            const bool sent = SendRequest(udp.Descriptor(), target, request, deadline, error);
            if (!sending.Broadcast && attempt == 1 && !room->EntryMade(target, error)) {
                return NETBIOS_ERROR;
            }
            if (!sent) return NETBIOS_ERROR;
        }
        const Clock::time_point attempt_end = start + (deadline - start) * attempt / sending.Tries;
        Awaited awaited = AWAITED_NOTHING;
        if (!AwaitAnswer(udp, attempt_end, is_answer, &awaited, error)) return NETBIOS_ERROR;
        if (awaited == AWAITED_ANSWER) return NETBIOS_ANSWER;
        if (awaited == AWAITED_UNREACHABLE) return NETBIOS_NO_ANSWER;
    }
    return NETBIOS_NO_ANSWER;
}

}  // namespace

std::vector<uint32_t> BroadcastTargets(const std::vector<LiveInterface>& interfaces) {
    constexpr uint32_t kSmallestHostPart = 3;  // a /30: below it no address is left to broadcast on
    std::vector<uint32_t> targets;
    for (const Subnet& subnet : ConnectedSubnets(interfaces)) {
        const uint32_t host_part = ~subnet.Mask;
        const uint32_t broadcast = subnet.Address | host_part;
        if (host_part >= kSmallestHostPart &&
            std::find(targets.begin(), targets.end(), broadcast) == targets.end()) {
            targets.push_back(broadcast);
        }
    }
    return targets;
}

NetBiosOutcome AskNodeStatus(NeighbourRoom* room, uint32_t address, Clock::time_point deadline,
                             NodeStatus* status, std::string* error) {
    const uint16_t transaction_id = RandomTransactionId();
    const AnswerCheck is_answer = [&](const unsigned char* data, size_t length, uint32_t from) {
        return from == address &&
               ReadNodeStatusResponse(data, length, transaction_id, status) == PACKET_ANSWER;
    };
    return Exchange(room, {{address}, false, kNodeStatusTries}, NodeStatusRequest(transaction_id),
                    deadline, is_answer, error);
}

NetBiosOutcome NodeStatusName(NeighbourRoom* room, uint32_t address, Clock::time_point deadline,
                              std::string* name, std::string* error) {
    NodeStatus status;
    const NetBiosOutcome outcome = AskNodeStatus(room, address, deadline, &status, error);
    if (outcome != NETBIOS_ANSWER) return outcome;
    return ComputerNameOf(status, name) ? NETBIOS_ANSWER : NETBIOS_NO_ANSWER;
}

NetBiosOutcome NameQuery(const std::vector<LiveInterface>& interfaces, const std::string& name,
                         Clock::time_point deadline, uint32_t* address, std::string* error) {
    const std::vector<uint32_t> targets = BroadcastTargets(interfaces);
    if (targets.empty()) return NETBIOS_NO_ANSWER;
    const uint16_t transaction_id = RandomTransactionId();
    constexpr unsigned char kWorkstationSuffix = 0x00;
    const AnswerCheck is_answer = [&](const unsigned char* data, size_t length, uint32_t) {
        std::vector<uint32_t> addresses;
        if (ReadNameQueryResponse(data, length, transaction_id, name, kWorkstationSuffix,
                                  &addresses) != PACKET_ANSWER) {
            return false;
        }
        *address = addresses.front();
        return true;
    };
    return Exchange(nullptr, {targets, true, kNameQueryTries},
                    NameQueryRequest(transaction_id, name, kWorkstationSuffix), deadline,
                    is_answer, error);
}
