#include "live/netlink.h"

#include <arpa/inet.h>
#include <errno.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include "live/socket.h"

namespace {

constexpr uint32_t kNeighbourDumpSequence = 1;
constexpr uint32_t kNeighbourEntrySequence = 2;

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
bool OpenNetlink(Socket* netlink, NetlinkRequest* request, std::string* error) {
    *netlink = Socket::Open(AF_NETLINK, SOCK_RAW, NETLINK_ROUTE, "a netlink socket", error);
    return netlink->IsOpen() && BindNetlink(netlink->Descriptor(), &request->PortId, error);
}

// The next datagram that the kernel itself sends; anything from another
// sender is passed over. what names the answer in an error.
bool ReceiveFromKernel(int descriptor, unsigned char* buffer, size_t size, size_t* length,
                       const char* what, std::string* error) {
    for (;;) {
        sockaddr_nl sender{};
        socklen_t sender_length = sizeof sender;
        ssize_t received = recvfrom(descriptor, buffer, size, 0,
                                    reinterpret_cast<sockaddr*>(&sender), &sender_length);
        if (received < 0 && errno == EINTR) continue;
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

bool SendNeighbourDumpRequest(int descriptor, std::string* error) {
    struct {
        nlmsghdr Header;
        ndmsg Body;
    } request{};
    request.Header.nlmsg_len = sizeof request;
    request.Header.nlmsg_type = RTM_GETNEIGH;
    request.Header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.Header.nlmsg_seq = kNeighbourDumpSequence;
    request.Body.ndm_family = AF_INET;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (sendto(descriptor, &request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&kernel),
               sizeof kernel) < 0) {
        *error = SystemFailure("cannot ask the kernel for its neighbour table", errno);
        return false;
    }
    return true;
}

}  // namespace

// A request for one entry: the message, the interface and NDA_DST.
struct NeighbourEntryRequest {
    nlmsghdr Header;
    ndmsg Body;
    rtattr Destination;
    uint32_t Address;  // network byte order
};

bool ReadNeighbourEntry(uint32_t address, unsigned interface_index,
                        std::vector<NeighbourEntry>* entries, bool* answered, std::string* error) {
    *answered = false;
    Socket netlink;
    NetlinkRequest sent{kNeighbourEntrySequence, 0};
    if (!OpenNetlink(&netlink, &sent, error)) return false;
    NeighbourEntryRequest request{};
    request.Header.nlmsg_len = sizeof request;
    request.Header.nlmsg_type = RTM_GETNEIGH;
    request.Header.nlmsg_flags = NLM_F_REQUEST;
    request.Header.nlmsg_seq = kNeighbourEntrySequence;
    request.Body.ndm_family = AF_INET;
    request.Body.ndm_ifindex = static_cast<int>(interface_index);
    request.Destination.rta_len = RTA_LENGTH(sizeof request.Address);
    request.Destination.rta_type = NDA_DST;
    request.Address = htonl(address);
    static_assert(sizeof request == NLMSG_LENGTH(sizeof(ndmsg)) + RTA_LENGTH(sizeof(uint32_t)),
                  "the request is laid out as netlink aligns it");
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (sendto(netlink.Descriptor(), &request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&kernel),
               sizeof kernel) < 0) {
        *error = SystemFailure("cannot ask the kernel for a neighbour entry", errno);
        return false;
    }
    unsigned char buffer[4096];
    for (;;) {
        size_t received = 0;
        if (!ReceiveFromKernel(netlink.Descriptor(), buffer, sizeof buffer, &received, "neighbour entry",
                               error)) {
            return false;
        }
        int refusal = 0;
        switch (ReadNeighbourDumpPart(buffer, received, 0, sent, entries, error, &refusal)) {
        case DUMP_GOES_ON:  // the entry, or one too cut to read, which gives none
        case DUMP_DONE: *answered = true; return true;
        case DUMP_FAILED:
            if (refusal == ENOENT) *answered = true;  // no entry
            // Kernels that cannot answer for one entry refuse the request.
            return refusal == ENOENT || refusal == EINVAL || refusal == EOPNOTSUPP;
        }
    }
}

bool ReadNeighbourTable(std::vector<NeighbourEntry>* entries, std::string* error) {
    Socket netlink;
    NetlinkRequest request{kNeighbourDumpSequence, 0};
    if (!OpenNetlink(&netlink, &request, error) ||
        !SendNeighbourDumpRequest(netlink.Descriptor(), error)) {
        return false;
    }
    unsigned char buffer[32768];
    for (;;) {
        size_t received = 0;
        if (!ReceiveFromKernel(netlink.Descriptor(), buffer, sizeof buffer, &received, "neighbour table",
                               error)) {
            return false;
        }
        switch (ReadNeighbourDumpPart(buffer, received, 0, request, entries, error)) {
        case DUMP_GOES_ON: break;
        case DUMP_DONE: return true;
        case DUMP_FAILED: return false;
        }
    }
}
