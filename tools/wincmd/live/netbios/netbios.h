// The NetBIOS name service of the live segment, asked as Windows asks it:
// a node-status request to one host's UDP port 137 for its name table, and a
// name query broadcast on the live interfaces for the address of a name.
// Thin wrappers around the sockets; the packets are in netbios_packets.h.
//
// Each call opens its own UDP socket (an ephemeral port) and keeps no state
// between calls, so calls may run at once on several threads, for example a
// node-status request on a std::thread while the calling thread waits for an
// ICMP echo reply with the same deadline. Each returns by its deadline at the
// latest (plus the time of one send).
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <vector>

#include "live/kernel/interfaces.h"
#include "live/netbios/netbios_packets.h"
#include "live/kernel/socket.h"
#include "live/room/neighbour_room.h"

enum NetBiosOutcome {
    NETBIOS_ANSWER,
    NETBIOS_NO_ANSWER,  // nothing (usable) came by the deadline
    NETBIOS_ERROR,      // a socket could not be opened or a request not sent; see the error
};

// The name table and unit ID of the host at address (host byte order): a
// node-status request to its port 137, sent again halfway to the deadline when
// no answer has come by then. Only an answer from that address, to this
// request, counts. A host that reports nothing listening on the port (an ICMP
// port unreachable) or that cannot be reached gives no answer at once. The
// request takes its room in the neighbour table from room first.
NetBiosOutcome AskNodeStatus(NeighbourRoom* room, uint32_t address, Clock::time_point deadline,
                             NodeStatus* status, std::string* error);

// How long Windows waits for a node-status answer.
constexpr auto kNodeStatusTime = std::chrono::milliseconds(1000);

// The computer name of the host at address as Windows takes it from the
// node-status answer (ComputerNameOf). An answer without such a name is
// NETBIOS_NO_ANSWER.
NetBiosOutcome NodeStatusName(NeighbourRoom* room, uint32_t address, Clock::time_point deadline,
                              std::string* name, std::string* error);

// Where a name query goes: the broadcast address of each IPv4 address (by its
// mask) of every connected interface that is not the loopback, each once;
// none for masks longer than 30 bits.
std::vector<uint32_t> BroadcastTargets(const std::vector<LiveInterface>& interfaces);

// The address of the NetBIOS name (suffix 0x00) on the segment: a name query
// broadcast to BroadcastTargets of the interfaces, kNameQueryTries times
// evenly spread up to the deadline; the first positive answer wins (its first
// address). Windows gives such a query about kNameQueryTime.
constexpr int kNameQueryTries = 3;
constexpr auto kNameQueryTime = std::chrono::milliseconds(1500);
NetBiosOutcome NameQuery(const std::vector<LiveInterface>& interfaces, const std::string& name,
                         Clock::time_point deadline, uint32_t* address, std::string* error);

// The pieces every NetBIOS exchange is made of, the segment's node-status
// sweep among them.

// A UDP socket on an ephemeral port that may send broadcasts, or one that
// may not.
bool OpenUdpSocket(bool broadcast, Socket* udp, std::string* error);

// A transaction id no other request of the segment is likely to have.
uint16_t RandomTransactionId();

// Port 137 of an address (host byte order).
sockaddr_in NameServiceAt(uint32_t address);
