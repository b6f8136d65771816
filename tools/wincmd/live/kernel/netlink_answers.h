// What the kernel answers over routing netlink about its IPv4 neighbour
// table: its entries and their states, and the table's size. Pure functions,
// so that every rule can be tried on made-up answers; the requests are sent
// in netlink.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// How arp lists a neighbour entry of the kernel.
enum NeighbourListing {
    NEIGHBOUR_NOT_LISTED,  // nothing resolved (yet), or the resolution failed
    NEIGHBOUR_DYNAMIC,
    NEIGHBOUR_STATIC,
};

// The listing of a neighbour entry in the given NUD_* state bits.
NeighbourListing ListingOfNeighbourState(unsigned state);

struct NeighbourEntry {
    uint32_t Address;  // host byte order
    unsigned InterfaceIndex;
    unsigned State;    // NUD_*
    std::string HardwareAddress;  // raw bytes; empty when the entry has none
    // How long ago the kernel last confirmed the entry, in clock ticks
    // (USER_HZ, sysconf(_SC_CLK_TCK)); -1 when the answer did not say.
    int64_t ConfirmedTicksAgo = -1;
};

// Which request a netlink answer belongs to: the sequence number it was sent
// with and the port id of the socket that sent it.
struct NetlinkRequest {
    uint32_t Sequence;
    uint32_t PortId;
};

enum NeighbourDumpPart {
    DUMP_GOES_ON,  // more datagrams follow
    DUMP_DONE,
    DUMP_FAILED,
};

// Reads one datagram of the kernel's answer to a neighbour dump, received
// from the netlink port sender (0: the kernel). Each IPv4 entry joins
// entries; an entry with a cut attribute gives none. Datagrams not from the
// kernel and messages of another request are passed over. DUMP_FAILED with
// the reason when the kernel refused (its error number in *refusal, when
// given), or a message or error record is cut short. The same reads the
// answer to a request for one entry, which is that entry alone or a refusal.
NeighbourDumpPart ReadNeighbourDumpPart(const unsigned char* data, size_t length, uint32_t sender,
                                        const NetlinkRequest& request,
                                        std::vector<NeighbourEntry>* entries, std::string* error,
                                        int* refusal = nullptr);

// The kernel's IPv4 neighbour table, which every network namespace of the
// machine shares: its hard limit (net.ipv4.neigh.default.gc_thresh3) and the
// entries it holds now.
struct NeighbourTableSize {
    int Limit = 0;  // 0: not read
    int Entries = 0;
};

// Reads one datagram of the kernel's answer to a request for its neighbour
// tables (RTM_GETNEIGHTBL): the IPv4 table's size goes to *size, the rest is
// passed over. Ends and fails as ReadNeighbourDumpPart does.
NeighbourDumpPart ReadNeighbourTableSizePart(const unsigned char* data, size_t length,
                                             uint32_t sender, const NetlinkRequest& request,
                                             NeighbourTableSize* size, std::string* error);
