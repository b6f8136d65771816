#include "live/kernel/netlink.h"

#include <arpa/inet.h>
#include <errno.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <functional>

#include "live/kernel/socket.h"

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
    if (!BindAndReadBack(descriptor, reinterpret_cast<sockaddr*>(&local), sizeof local,
                         "a netlink socket", error)) {
        return false;
    }
    *port_id = local.nl_pid;
    return true;
}

// A routing netlink socket bound to a port id of its own, named in request.
bool OpenNetlink(Socket* netlink, NetlinkRequest* request, std::string* error) {
    *netlink = Socket::Open(AF_NETLINK, SOCK_RAW, NETLINK_ROUTE, "a netlink socket", error);
    return netlink->IsOpen() && BindNetlink(netlink->Descriptor(), &request->PortId, error);
}

// The next datagram that the kernel itself sends by deadline; anything from
// another sender is passed over. what names the answer in an error.
bool ReceiveFromKernel(const Socket& netlink, Clock::time_point deadline, unsigned char* buffer,
                       size_t size, size_t* length, const char* what, std::string* error) {
    const std::string awaited = std::string("the kernel's ") + what;
    for (;;) {
        switch (WaitReadable(netlink, deadline, awaited.c_str(), error)) {
        case WAIT_READABLE: break;
        case WAIT_DEADLINE:
            *error = std::string("the kernel did not answer for its ") + what + " in time";
            return false;
        case WAIT_FAILED: return false;
        }
        sockaddr_nl sender{};
        socklen_t sender_length = sizeof sender;
        ssize_t received = recvfrom(netlink.Descriptor(), buffer, size, MSG_DONTWAIT,
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
    Socket netlink;
    if (!OpenNetlink(&netlink, request, error)) return false;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (sendto(netlink.Descriptor(), message, size, 0, reinterpret_cast<const sockaddr*>(&kernel),
               sizeof kernel) < 0) {
        *error = SystemFailure(std::string("cannot ask the kernel for its ") + what, errno);
        return false;
    }
    const Clock::time_point deadline = Clock::now() + kKernelAnswerTime;
    std::vector<unsigned char> buffer(32768);
    for (;;) {
        size_t received = 0;
        if (!ReceiveFromKernel(netlink, deadline, buffer.data(), buffer.size(), &received,
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
