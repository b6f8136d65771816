// What the kernel and the resolver answer, turned into the values of the
// stand-in tools' reports. Pure functions, so that every rule can be tried on
// made-up answers; the system calls that get the answers are in kernel.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

// A hardware address as the Windows tools print it: "02-18-00-00-00-0A".
std::string MacText(const unsigned char* bytes, size_t length);

// The interface an IPv4 address label belongs to: "eth0:1" is on "eth0"
// (interface names never hold a colon).
std::string InterfaceOfLabel(const std::string& label);

enum ReverseLookupKind {
    LOOKUP_NAME,
    LOOKUP_NO_NAME,  // the resolver knows no name for the address
    LOOKUP_ERROR,    // the resolver could not answer
};

struct ReverseLookup {
    ReverseLookupKind Kind;
    std::string Text;  // the name, or the reason of the error
};

// The answer of getnameinfo (with NI_NAMEREQD): its status, the name it wrote,
// and errno for EAI_SYSTEM.
ReverseLookup ReadReverseLookup(int status, const char* name, int system_error);

// An ICMP echo request with its checksum.
std::string EchoRequestPacket(uint16_t identifier, uint16_t sequence, const std::string& payload);

// An ICMP echo reply as a socket gives it: with the IP header in front (raw
// socket) or without (datagram socket).
struct ReceivedEcho {
    uint16_t Identifier;
    uint16_t Sequence;
    std::string Payload;
    int Ttl;  // from the IP header; -1 without one
};

// False when data is not a whole echo reply.
bool ReadEchoReply(const unsigned char* data, size_t length, bool with_ip_header,
                   ReceivedEcho* echo);
