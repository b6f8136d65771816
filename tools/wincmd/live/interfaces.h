// The live machine's network interfaces as the system lists them: each with
// its hardware address and its IPv4 addresses and masks.
#pragma once

#include <cstdint>
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
