// The live machine as the kernel and the resolver describe it: interfaces and
// their addresses, the neighbour (ARP) table, name look-ups, and ICMP echo.
// Thin wrappers around the system calls; what their answers mean for the
// reports is decided in kernel_answers.h. Every failure comes back as a
// reason, never as a made-up answer.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "live/kernel_answers.h"
#include "tools.h"

struct LiveInterface {
    std::string Name;
    unsigned Index;
    unsigned Flags;          // IFF_*
    unsigned HardwareType;   // ARPHRD_*
    std::string HardwareAddress;            // raw bytes
    std::vector<uint32_t> Addresses;        // IPv4, host byte order, in the system's order
    std::vector<uint32_t> Netmasks;         // the network mask of each of Addresses
};

// Every interface, in the order the system lists them.
bool ListInterfaces(std::vector<LiveInterface>* interfaces, std::string* error);

// The kernel's IPv4 neighbour table (netlink, which gives each entry's state).
// Every netlink request here gets its answer within a deadline of a few
// seconds or fails with the reason.
bool ReadNeighbourTable(std::vector<NeighbourEntry>* entries, std::string* error);

// The kernel's entry for one address on one interface, if it has one, joins
// entries. Asking for one entry spares reading a table that a sweep of a large
// subnet fills with thousands. *answered is false when the kernel cannot be
// asked for one entry (before Linux 5.0): then only the whole table tells.
bool ReadNeighbourEntry(uint32_t address, unsigned interface_index,
                        std::vector<NeighbourEntry>* entries, bool* answered, std::string* error);

// The size of the kernel's IPv4 neighbour table, shared by every namespace.
bool ReadNeighbourTableSize(NeighbourTableSize* size, std::string* error);

// Removes the kernel's entry for one address on one interface. False with the
// reason, and the kernel's error number in *refusal when it refused (EPERM
// without CAP_NET_ADMIN, ENOENT when there is no such entry).
bool DeleteNeighbourEntry(uint32_t address, unsigned interface_index, int* refusal,
                          std::string* error);

// The system resolver's name for an address (hosts file, DNS); empty when it
// has none or cannot answer.
std::string LookUpName(uint32_t address);

// The system resolver's IPv4 address of a name.
bool LookUpAddress(const std::string& name, uint32_t* address, std::string* error);

using Clock = std::chrono::steady_clock;

// Sends a datagram with send (sendto on descriptor) and, while the kernel
// finds no room for the target's neighbour entry (ENOBUFS), tries again a
// few times a second until give_up. The socket reports that error only
// while IP_RECVERR is on (raw and UDP sockets drop such a datagram in
// silence otherwise), so it is on for the sends alone: later ICMP errors
// never queue on the socket; an error that an earlier datagram left pending
// is dropped first, so that it fails no send. False with errno set when it
// did not go out.
bool SendWhileTableFull(int descriptor, Clock::time_point give_up, const std::function<bool()>& send);

// The time-out of one poll that waits toward deadline from now: at most a
// second, so that no wait overflows poll's int, and at least a millisecond.
int PollSliceMs(Clock::time_point now, Clock::time_point deadline);

// A request that finds the kernel's neighbour table full (ENOBUFS) is sent
// again after a pause, until this long has passed without room. The probes
// of a sweep wait for room before they send (table_room.h), so only a table
// that others keep full makes a request wait here.
constexpr auto kFullTablePause = std::chrono::milliseconds(20);
constexpr auto kFullTableWait = std::chrono::seconds(60);

// Whether this process can open an ICMP socket, as ping opens it; false with
// the reason and its remedy.
bool CanOpenEchoSocket(std::string* error);

// ICMP echo to one address: the kernel's ICMP datagram socket where
// net.ipv4.ping_group_range lets this process have one, else a raw socket.
class EchoSocket {
public:
    EchoSocket() = default;
    ~EchoSocket();
    EchoSocket(const EchoSocket&) = delete;
    EchoSocket& operator=(const EchoSocket&) = delete;

    // False with the reason, which names the remedy, when neither kind opens.
    bool Open(std::string* error);
    // Sends echo request number sequence; *sent is when it left. While the
    // kernel has no room for the address's neighbour entry it tries again
    // (see SendWhileTableFull).
    bool Send(uint32_t address, uint16_t sequence, Clock::time_point* sent, std::string* error);
    // Whether the last Send that failed found no route to its address, which
    // the tool reports in its report as the real one does.
    bool FoundNoRoute() const { return no_route_; }
    // Waits up to deadline for the reply to that request.
    bool AwaitReply(uint32_t address, uint16_t sequence, Clock::time_point sent,
                    Clock::time_point deadline, EchoOutcome* result, std::string* error);

private:
    bool Receive(uint32_t address, uint16_t sequence, bool* matched, int* ttl, std::string* error);

    int descriptor_ = -1;
    bool raw_ = false;
    uint16_t identifier_ = 0;  // a datagram socket's is the one the kernel gave it
    std::string payload_;      // 32 bytes, a random part first, so replies can be told apart
    bool no_route_ = false;
};
