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
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <thread>

namespace {

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

int PollSliceMs(Clock::time_point now, Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    return static_cast<int>(std::min<long long>(left.count(), 999)) + 1;
}

bool ListInterfaces(std::vector<LiveInterface>* interfaces, std::string* error) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        *error = SystemFailure("cannot list the network interfaces", errno);
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
                               {}, {}});
    }
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        LiveInterface* interface = FindInterfaceNamed(interfaces, InterfaceOfLabel(entry->ifa_name));
        if (interface == nullptr) continue;  // an address on an interface without a link entry
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        interface->Addresses.push_back(ntohl(address->sin_addr.s_addr));
        const auto* netmask = reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask);
        interface->Netmasks.push_back(netmask != nullptr ? ntohl(netmask->sin_addr.s_addr)
                                                         : 0xFFFFFFFF);
    }
    freeifaddrs(list);
    return true;
}

namespace {

constexpr uint32_t kNeighbourDumpSequence = 1;
constexpr uint32_t kNeighbourEntrySequence = 2;
constexpr uint32_t kNeighbourTableSequence = 3;
// The kernel answers a netlink request at once; a machine that does not
// answer in this time is stuck, and the tool says so rather than hang.
constexpr auto kKernelAnswerTime = std::chrono::seconds(2);

// Binds the socket to a port id of the kernel's choosing and tells which.
bool BindNetlink(int descriptor, uint32_t* port_id, std::string* error) {
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    socklen_t length = sizeof local;
    if (bind(descriptor, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        getsockname(descriptor, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        *error = SystemFailure("cannot bind a netlink socket", errno);
        return false;
    }
    *port_id = local.nl_pid;
    return true;
}

// A routing netlink socket bound to a port id of its own, named in request.
bool OpenNetlink(Descriptor* netlink, NetlinkRequest* request, std::string* error) {
    netlink->Value = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (netlink->Value < 0) {
        *error = SystemFailure("cannot open a netlink socket", errno);
        return false;
    }
    return BindNetlink(netlink->Value, &request->PortId, error);
}

// The next datagram that the kernel itself sends by deadline; anything from
// another sender is passed over. what names the answer in an error.
bool ReceiveFromKernel(int descriptor, Clock::time_point deadline, unsigned char* buffer,
                       size_t size, size_t* length, const char* what, std::string* error) {
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            *error = std::string("the kernel did not answer for its ") + what + " in time";
            return false;
        }
        pollfd readable{descriptor, POLLIN, 0};
        const int ready = poll(&readable, 1, PollSliceMs(now, deadline));
        if (ready < 0 && errno != EINTR) {
            *error = SystemFailure(std::string("cannot wait for the kernel's ") + what, errno);
            return false;
        }
        if (ready <= 0) continue;
        sockaddr_nl sender{};
        socklen_t sender_length = sizeof sender;
        ssize_t received = recvfrom(descriptor, buffer, size, MSG_DONTWAIT,
                                    reinterpret_cast<sockaddr*>(&sender), &sender_length);
        if (received < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (received <= 0) {
            *error = SystemFailure(std::string("cannot read the kernel's ") + what,
                            received < 0 ? errno : EIO);
            return false;
        }
        if (sender.nl_pid != 0) continue;
        *length = static_cast<size_t>(received);
        return true;
    }
}

// Reads one datagram of an answer into what its reader keeps.
using AnswerPartReader = std::function<NeighbourDumpPart(const unsigned char* data, size_t length,
                                                         const NetlinkRequest& request)>;

// Sends a request (a netlink message whose sequence number is
// request->Sequence) on a socket of its own and reads the answer with
// read_part until it ends, all by kKernelAnswerTime. what names the answer.
bool AskKernel(const void* message, size_t size, NetlinkRequest* request, const char* what,
               const AnswerPartReader& read_part, std::string* error) {
    Descriptor netlink{-1};
    if (!OpenNetlink(&netlink, request, error)) return false;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (sendto(netlink.Value, message, size, 0, reinterpret_cast<const sockaddr*>(&kernel),
               sizeof kernel) < 0) {
        *error = SystemFailure(std::string("cannot ask the kernel for its ") + what, errno);
        return false;
    }
    const Clock::time_point deadline = Clock::now() + kKernelAnswerTime;
    std::vector<unsigned char> buffer(32768);
    for (;;) {
        size_t received = 0;
        if (!ReceiveFromKernel(netlink.Value, deadline, buffer.data(), buffer.size(), &received,
                               what, error)) {
            return false;
        }
        switch (read_part(buffer.data(), received, *request)) {
        case DUMP_GOES_ON: break;
        case DUMP_DONE: return true;
        case DUMP_FAILED: return false;
        }
    }
}

// A request about one entry: the message, the interface and NDA_DST.
struct NeighbourEntryRequest {
    nlmsghdr Header;
    ndmsg Body;
    rtattr Destination;
    uint32_t Address;  // network byte order
};
static_assert(sizeof(NeighbourEntryRequest) ==
                  NLMSG_LENGTH(sizeof(ndmsg)) + RTA_LENGTH(sizeof(uint32_t)),
              "the request is laid out as netlink aligns it");

NeighbourEntryRequest EntryRequest(uint16_t type, uint16_t flags, uint32_t sequence,
                                   uint32_t address, unsigned interface_index) {
    NeighbourEntryRequest request{};
    request.Header.nlmsg_len = sizeof request;
    request.Header.nlmsg_type = type;
    request.Header.nlmsg_flags = flags;
    request.Header.nlmsg_seq = sequence;
    request.Body.ndm_family = AF_INET;
    request.Body.ndm_ifindex = static_cast<int>(interface_index);
    request.Destination.rta_len = RTA_LENGTH(sizeof request.Address);
    request.Destination.rta_type = NDA_DST;
    request.Address = htonl(address);
    return request;
}

// A dump request of the given type for the IPv4 family; both ndmsg and
// ndtmsg start with the family.
struct DumpRequest {
    nlmsghdr Header;
    ndmsg Body;
};

DumpRequest IPv4DumpRequest(uint16_t type, uint32_t sequence) {
    DumpRequest request{};
    request.Header.nlmsg_len = sizeof request;
    request.Header.nlmsg_type = type;
    request.Header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.Header.nlmsg_seq = sequence;
    request.Body.ndm_family = AF_INET;
    return request;
}

}  // namespace

bool ReadNeighbourEntry(uint32_t address, unsigned interface_index,
                        std::vector<NeighbourEntry>* entries, bool* answered, std::string* error) {
    *answered = false;
    const NeighbourEntryRequest message =
        EntryRequest(RTM_GETNEIGH, NLM_F_REQUEST, kNeighbourEntrySequence, address, interface_index);
    NetlinkRequest request{kNeighbourEntrySequence, 0};
    int refusal = 0;
    const AnswerPartReader read_part = [&](const unsigned char* data, size_t length,
                                           const NetlinkRequest& sent) {
        NeighbourDumpPart part = ReadNeighbourDumpPart(data, length, 0, sent, entries, error, &refusal);
        // The entry, or one too cut to read, which gives none: either ends the answer.
        return part == DUMP_GOES_ON ? DUMP_DONE : part;
    };
    if (AskKernel(&message, sizeof message, &request, "neighbour entry", read_part, error)) {
        *answered = true;
        return true;
    }
    if (refusal == ENOENT) *answered = true;  // no entry
    // Kernels that cannot answer for one entry refuse the request.
    return refusal == ENOENT || refusal == EINVAL || refusal == EOPNOTSUPP;
}

bool ReadNeighbourTable(std::vector<NeighbourEntry>* entries, std::string* error) {
    const DumpRequest message = IPv4DumpRequest(RTM_GETNEIGH, kNeighbourDumpSequence);
    NetlinkRequest request{kNeighbourDumpSequence, 0};
    return AskKernel(&message, sizeof message, &request, "neighbour table",
                     [&](const unsigned char* data, size_t length, const NetlinkRequest& sent) {
                         return ReadNeighbourDumpPart(data, length, 0, sent, entries, error);
                     },
                     error);
}

bool ReadNeighbourTableSize(NeighbourTableSize* size, std::string* error) {
    const DumpRequest message = IPv4DumpRequest(RTM_GETNEIGHTBL, kNeighbourTableSequence);
    NetlinkRequest request{kNeighbourTableSequence, 0};
    *size = {};
    const bool read = AskKernel(
        &message, sizeof message, &request, "neighbour table's limits",
        [&](const unsigned char* data, size_t length, const NetlinkRequest& sent) {
            return ReadNeighbourTableSizePart(data, length, 0, sent, size, error);
        },
        error);
    if (read && size->Limit == 0) *error = "the kernel named no limit of its neighbour table";
    return read && size->Limit > 0;
}

bool DeleteNeighbourEntry(uint32_t address, unsigned interface_index, int* refusal,
                          std::string* error) {
    const NeighbourEntryRequest message = EntryRequest(
        RTM_DELNEIGH, NLM_F_REQUEST | NLM_F_ACK, kNeighbourEntrySequence, address, interface_index);
    NetlinkRequest request{kNeighbourEntrySequence, 0};
    std::vector<NeighbourEntry> none;
    *refusal = 0;
    return AskKernel(&message, sizeof message, &request, "neighbour entry",
                     [&](const unsigned char* data, size_t length, const NetlinkRequest& sent) {
                         return ReadNeighbourDumpPart(data, length, 0, sent, &none, error, refusal);
                     },
                     error);
}

std::string LookUpName(uint32_t address) {
    sockaddr_in socket_address{};
    socket_address.sin_family = AF_INET;
    socket_address.sin_addr.s_addr = htonl(address);
    char name[NI_MAXHOST] = "";
    int status = getnameinfo(reinterpret_cast<const sockaddr*>(&socket_address),
                             sizeof socket_address, name, sizeof name, nullptr, 0, NI_NAMEREQD);
    return NameOfReverseLookup(status, name);
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
// Datagrams that make a neighbour entry.

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

// ---------------------------------------------------------------------------
// ICMP echo.

namespace {

constexpr size_t kPayloadLength = 32;
constexpr size_t kRandomPartLength = 8;
static_assert(kRandomPartLength == sizeof(uint64_t), "the fallback fills the random part");

// The random part comes from getrandom, which costs a system call; a
// random_device would first probe the processor, which in a virtual machine
// costs more than the rest of the payload. Should the call fail, the clock
// and the process id still set these requests apart from other pings'.
std::string EchoPayload() {
    unsigned char random[kRandomPartLength];
    if (getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
        const uint64_t mixed = static_cast<uint64_t>(Clock::now().time_since_epoch().count()) ^
                               (static_cast<uint64_t>(getpid()) << 40);
        std::memcpy(random, &mixed, sizeof random);
    }
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

// The errors an ICMP message about the request leaves on the socket: the
// request got no reply, which its time-out reports.
bool IsNoReplyError(int error_number) {
    return error_number == EHOSTUNREACH || error_number == ENETUNREACH ||
           error_number == ECONNREFUSED || error_number == EPROTO;
}

double MillisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// A datagram socket's echo identifier is its port, which binding to port 0
// has the kernel choose.
bool BindEchoIdentifier(int descriptor, uint16_t* identifier, std::string* error) {
    sockaddr_in local = SocketAddress(INADDR_ANY);
    socklen_t length = sizeof local;
    if (bind(descriptor, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        getsockname(descriptor, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        *error = SystemFailure("cannot bind the ICMP socket", errno);
        return false;
    }
    *identifier = ntohs(local.sin_port);
    return true;
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
            *error = SystemFailure("cannot ask for the TTL of replies", errno);
            return false;
        }
        if (!BindEchoIdentifier(descriptor_, &identifier_, error)) return false;
    } else {
        descriptor_ = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (descriptor_ < 0) {
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
        setsockopt(descriptor_, SOL_RAW, ICMP_FILTER, &only_replies, sizeof only_replies);
    }
    payload_ = EchoPayload();
    return true;
}

bool CanOpenEchoSocket(std::string* error) {
    EchoSocket socket;
    return socket.Open(error);
}

bool EchoSocket::Send(uint32_t address, uint16_t sequence, Clock::time_point* sent,
                      std::string* error) {
    const std::string packet = EchoRequestPacket(identifier_, sequence, payload_);
    const sockaddr_in target = SocketAddress(address);
    const bool went = SendWhileTableFull(descriptor_, Clock::now() + kFullTableWait, [&]() {
        *sent = Clock::now();
        return sendto(descriptor_, packet.data(), packet.size(), 0,
                      reinterpret_cast<const sockaddr*>(&target), sizeof target) >= 0;
    });
    no_route_ = !went && (errno == ENETUNREACH || errno == EHOSTUNREACH);
    if (!went) *error = SystemFailure("cannot send an echo request", errno);
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
    ssize_t length = recvmsg(descriptor_, &message, MSG_DONTWAIT);
    if (length < 0) {
        if (errno == EAGAIN || errno == EINTR || IsNoReplyError(errno)) return true;
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
        const Clock::time_point now = Clock::now();
        if (now >= deadline) return true;
        pollfd readable{descriptor_, POLLIN, 0};
        int ready = poll(&readable, 1, PollSliceMs(now, deadline));
        if (ready < 0 && errno != EINTR) {
            *error = SystemFailure("cannot wait for an echo reply", errno);
            return false;
        }
        if (ready <= 0) continue;
        bool matched = false;
        int ttl = kUnknownTtl;
        if (!Receive(address, sequence, &matched, &ttl, error)) return false;
        if (matched) {
            *result = {true, MillisecondsBetween(sent, Clock::now()), ttl};
            return true;
        }
    }
}
