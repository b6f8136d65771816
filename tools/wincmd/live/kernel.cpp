#include "live/kernel.h"

#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <linux/icmp.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/if_packet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>

namespace {

std::string Reason(const std::string& what, int error_number) {
    return what + ": " + std::strerror(error_number);
}

LiveInterface* FindInterfaceNamed(std::vector<LiveInterface>* interfaces, const std::string& name) {
    for (LiveInterface& interface : *interfaces) {
        if (interface.Name == name) return &interface;
    }
    return nullptr;
}

// A file descriptor closed when it goes.
struct Descriptor {
    int Value;
    ~Descriptor() {
        if (Value >= 0) close(Value);
    }
};

}  // namespace

bool ListInterfaces(std::vector<LiveInterface>* interfaces, std::string* error) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        *error = Reason("cannot list the network interfaces", errno);
        return false;
    }
    // The link entries (AF_PACKET) come first, one per interface in the
    // system's order; the address entries name the interface by its label.
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_PACKET) continue;
        const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
        interfaces->push_back({entry->ifa_name, static_cast<unsigned>(link->sll_ifindex),
                               entry->ifa_flags, link->sll_hatype,
                               std::string(reinterpret_cast<const char*>(link->sll_addr),
                                           link->sll_halen),
                               {}});
    }
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        LiveInterface* interface = FindInterfaceNamed(interfaces, InterfaceOfLabel(entry->ifa_name));
        if (interface == nullptr) continue;  // an address on an interface without a link entry
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        interface->Addresses.push_back(ntohl(address->sin_addr.s_addr));
    }
    freeifaddrs(list);
    return true;
}

namespace {

// One RTM_NEWNEIGH message of the dump; false for anything but an IPv4 entry.
bool ReadNeighbourMessage(const nlmsghdr* message, NeighbourEntry* entry) {
    if (message->nlmsg_type != RTM_NEWNEIGH || message->nlmsg_len < NLMSG_LENGTH(sizeof(ndmsg))) {
        return false;
    }
    const auto* neighbour = static_cast<const ndmsg*>(NLMSG_DATA(message));
    if (neighbour->ndm_family != AF_INET) return false;
    entry->InterfaceIndex = static_cast<unsigned>(neighbour->ndm_ifindex);
    entry->State = neighbour->ndm_state;
    entry->HardwareAddress.clear();
    bool have_address = false;
    int length = static_cast<int>(NLMSG_PAYLOAD(message, sizeof(ndmsg)));
    for (auto* attribute = reinterpret_cast<const rtattr*>(
             reinterpret_cast<const char*>(neighbour) + NLMSG_ALIGN(sizeof(ndmsg)));
         RTA_OK(attribute, length); attribute = RTA_NEXT(attribute, length)) {
        const size_t size = RTA_PAYLOAD(attribute);
        const auto* data = static_cast<const char*>(RTA_DATA(attribute));
        if (attribute->rta_type == NDA_DST && size == sizeof(in_addr)) {
            in_addr address;
            std::memcpy(&address, data, sizeof address);
            entry->Address = ntohl(address.s_addr);
            have_address = true;
        } else if (attribute->rta_type == NDA_LLADDR) {
            entry->HardwareAddress.assign(data, size);
        }
    }
    return have_address;
}

bool SendNeighbourDumpRequest(int descriptor, std::string* error) {
    struct {
        nlmsghdr Header;
        ndmsg Body;
    } request{};
    request.Header.nlmsg_len = sizeof request;
    request.Header.nlmsg_type = RTM_GETNEIGH;
    request.Header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.Header.nlmsg_seq = 1;
    request.Body.ndm_family = AF_INET;
    if (send(descriptor, &request, sizeof request, 0) < 0) {
        *error = Reason("cannot ask the kernel for its neighbour table", errno);
        return false;
    }
    return true;
}

}  // namespace

bool ReadNeighbourTable(std::vector<NeighbourEntry>* entries, std::string* error) {
    Descriptor netlink{socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)};
    if (netlink.Value < 0) {
        *error = Reason("cannot open a netlink socket", errno);
        return false;
    }
    if (!SendNeighbourDumpRequest(netlink.Value, error)) return false;
    alignas(nlmsghdr) char buffer[32768];
    for (;;) {
        ssize_t received = recv(netlink.Value, buffer, sizeof buffer, 0);
        if (received < 0 && errno == EINTR) continue;
        if (received <= 0) {
            *error = Reason("cannot read the kernel's neighbour table", received < 0 ? errno : EIO);
            return false;
        }
        int length = static_cast<int>(received);
        for (auto* message = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(message, length);
             message = NLMSG_NEXT(message, length)) {
            if (message->nlmsg_type == NLMSG_DONE) return true;
            if (message->nlmsg_type == NLMSG_ERROR) {
                const auto* failure = static_cast<const nlmsgerr*>(NLMSG_DATA(message));
                *error = Reason("the kernel refused its neighbour table", -failure->error);
                return false;
            }
            NeighbourEntry entry{};
            if (ReadNeighbourMessage(message, &entry)) entries->push_back(entry);
        }
    }
}

ReverseLookup LookUpName(uint32_t address) {
    sockaddr_in socket_address{};
    socket_address.sin_family = AF_INET;
    socket_address.sin_addr.s_addr = htonl(address);
    char name[NI_MAXHOST] = "";
    errno = 0;
    int status = getnameinfo(reinterpret_cast<const sockaddr*>(&socket_address),
                             sizeof socket_address, name, sizeof name, nullptr, 0, NI_NAMEREQD);
    return ReadReverseLookup(status, name, errno);
}

bool LookUpAddress(const std::string& name, uint32_t* address, std::string* error) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_RAW;
    addrinfo* found = nullptr;
    int status = getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (status != 0) {
        *error = "cannot find host " + name + ": " +
                 (status == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(status));
        return false;
    }
    *address = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(found);
    return true;
}

// ---------------------------------------------------------------------------
// ICMP echo.

namespace {

constexpr size_t kPayloadLength = 32;  // "with 32 bytes of data"
constexpr size_t kRandomPartLength = 8;

std::string EchoPayload() {
    std::random_device random;
    std::string payload;
    for (size_t i = 0; i < kRandomPartLength; ++i) payload += static_cast<char>(random() & 0xFF);
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
    return -1;
}

// The errors an ICMP message about the request leaves on the socket: the
// request got no reply, which its time-out reports.
bool IsNoReplyError(int error_number) {
    return error_number == EHOSTUNREACH || error_number == ENETUNREACH ||
           error_number == ECONNREFUSED || error_number == EPROTO;
}

double MillisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace

EchoSocket::~EchoSocket() {
    if (descriptor_ >= 0) close(descriptor_);
}

bool EchoSocket::Open(std::string* error) {
    descriptor_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    const int datagram_error = errno;
    if (descriptor_ >= 0) {
        const int on = 1;
        if (setsockopt(descriptor_, IPPROTO_IP, IP_RECVTTL, &on, sizeof on) != 0) {
            *error = Reason("cannot ask for the TTL of replies", errno);
            return false;
        }
    } else {
        descriptor_ = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (descriptor_ < 0) {
            *error = "cannot open an ICMP socket: " + Reason("datagram socket", datagram_error) +
                     " (see net.ipv4.ping_group_range); " + Reason("raw socket", errno);
            return false;
        }
        raw_ = true;
        identifier_ = static_cast<uint16_t>(getpid() & 0xFFFF);
        // Spares the socket every other ICMP message; replies are matched anyway,
        // so a kernel without the filter costs nothing but wake-ups.
        icmp_filter only_replies{~(1u << ICMP_ECHOREPLY)};
        setsockopt(descriptor_, SOL_RAW, ICMP_FILTER, &only_replies, sizeof only_replies);
    }
    payload_ = EchoPayload();
    return true;
}

bool EchoSocket::Send(uint32_t address, uint16_t sequence, Clock::time_point* sent,
                      std::string* error) {
    const std::string packet = EchoRequestPacket(identifier_, sequence, payload_);
    const sockaddr_in target = SocketAddress(address);
    *sent = Clock::now();
    if (sendto(descriptor_, packet.data(), packet.size(), 0,
               reinterpret_cast<const sockaddr*>(&target), sizeof target) < 0) {
        *error = Reason("cannot send an echo request", errno);
        return false;
    }
    return true;
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
    ssize_t length = recvmsg(descriptor_, &message, MSG_DONTWAIT);
    if (length < 0) {
        if (errno == EAGAIN || errno == EINTR || IsNoReplyError(errno)) return true;
        *error = Reason("cannot receive an echo reply", errno);
        return false;
    }
    ReceivedEcho echo;
    if (ntohl(from.sin_addr.s_addr) != address ||
        !ReadEchoReply(data, static_cast<size_t>(length), raw_, &echo)) {
        return true;
    }
    // A datagram socket hands over only the replies to its own identifier.
    *matched = echo.Sequence == sequence && echo.Payload == payload_ &&
               (!raw_ || echo.Identifier == identifier_);
    *ttl = raw_ ? echo.Ttl : ReceivedTtl(&message);
    return true;
}

bool EchoSocket::AwaitReply(uint32_t address, uint16_t sequence, Clock::time_point sent,
                            Clock::time_point deadline, EchoResult* result, std::string* error) {
    *result = {false, 0, 0};
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (now >= deadline) return true;
        // In slices of at most a second, so that no time-out overflows poll's int.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        const int slice_ms = static_cast<int>(std::min<long long>(left.count(), 999)) + 1;
        pollfd readable{descriptor_, POLLIN, 0};
        int ready = poll(&readable, 1, slice_ms);
        if (ready < 0 && errno != EINTR) {
            *error = Reason("cannot wait for an echo reply", errno);
            return false;
        }
        if (ready <= 0) continue;
        bool matched = false;
        int ttl = -1;
        if (!Receive(address, sequence, &matched, &ttl, error)) return false;
        if (matched) {
            *result = {true, MillisecondsBetween(sent, Clock::now()), ttl};
            return true;
        }
    }
}
