// What the kernel and the resolver answer, turned into the values of the
// stand-in tools' reports. Pure functions, so that every rule can be tried on
// made-up answers; the system calls that get the answers are in kernel.h.
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

// Whether an interface shows as an adapter: one with an Ethernet hardware
// address that is not the loopback interface.
bool ListsAsAdapter(unsigned flags, unsigned hardware_type, size_t hardware_length);

// Whether an adapter with these IFF_* flags is connected: up and with carrier.
bool IsConnectedInterface(unsigned flags);

// A failed call as a reason: what was tried, then the system's words for the
// error number.
std::string SystemFailure(const std::string& what, int error_number);

// A hardware address as the Windows tools print it: "02-18-00-00-00-0A".
std::string MacText(const unsigned char* bytes, size_t length);

// The interface an IPv4 address label belongs to: "eth0:1" is on "eth0"
// (interface names never hold a colon).
std::string InterfaceOfLabel(const std::string& label);

// The name a reverse look-up of the system resolver (getnameinfo with
// NI_NAMEREQD) gives: the name it wrote when it succeeded, else none. An
// address without a name and a resolver that cannot answer read alike, as on
// Windows: the ping header then shows the address alone.
std::string NameOfReverseLookup(int status, const char* name);

// An ICMP echo request with its checksum.
std::string EchoRequestPacket(uint16_t identifier, uint16_t sequence, const std::string& payload);

// The echo request that a reply must answer.
struct EchoQuery {
    uint32_t Address;  // where it went, host byte order
    uint16_t Identifier;
    uint16_t Sequence;
    std::string Payload;
};

constexpr int kUnknownTtl = -1;

// Whether a datagram received from source (host byte order) answers the
// query: an echo reply from the address the request went to, with its
// identifier, sequence and payload. A raw socket gives the IP header in front
// (with_ip_header), whose TTL goes to *ttl; a datagram socket gives the TTL
// apart, as control_ttl (kUnknownTtl when the kernel did not hand it over).
bool MatchEchoReply(const EchoQuery& query, uint32_t source, const unsigned char* data,
                    size_t length, bool with_ip_header, int control_ttl, int* ttl);

struct NeighbourEntry {
    uint32_t Address;  // host byte order
    unsigned InterfaceIndex;
    unsigned State;    // NUD_*
    std::string HardwareAddress;  // raw bytes; empty when the entry has none
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
