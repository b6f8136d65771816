// The live machine's network interfaces as the system lists them: each with
// its hardware address and its IPv4 addresses and masks; which of them are
// adapters, which connected, and the subnets they reach. A tool reads them
// once (InterfaceList) and hands them to whatever needs them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

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

// The interfaces of one tool's run, read when first asked for and kept: the
// adapters do not change while a tool runs. Safe from several threads.
class InterfaceList {
public:
    // The interfaces; null with the reason when they cannot be read.
    const std::vector<LiveInterface>* Get(std::string* error);

private:
    std::mutex lock_;
    bool asked_ = false;
    bool read_ = false;
    std::string error_;
    std::vector<LiveInterface> interfaces_;
};

// Whether an interface shows as an adapter: one with an Ethernet hardware
// address that is not the loopback interface.
bool ListsAsAdapter(unsigned flags, unsigned hardware_type, size_t hardware_length);
bool IsAdapter(const LiveInterface& interface);

// Whether an adapter with these IFF_* flags is connected: up and with carrier.
bool IsConnectedInterface(unsigned flags);

// An IPv4 address of an interface with its network mask.
struct Subnet {
    uint32_t Address;
    uint32_t Mask;
};

// Each IPv4 address, with its mask, of every connected interface but the
// loopback, in the system's order: the subnets the segment's requests go to.
std::vector<Subnet> ConnectedSubnets(const std::vector<LiveInterface>& interfaces);

// A hardware address as the Windows tools print it: "02-18-00-00-00-0A".
std::string MacText(const unsigned char* bytes, size_t length);

// The interface an IPv4 address label belongs to: "eth0:1" is on "eth0"
// (interface names never hold a colon).
std::string InterfaceOfLabel(const std::string& label);
