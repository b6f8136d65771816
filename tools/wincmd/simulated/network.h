// The simulated network that the simulated machine answers from: its own
// adapters, the other hosts of the segment, DNS names and the browse list.
// Everything a tool reports comes from here; no packet is ever sent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "machine/machine.h"

enum HostState {
    HOST_UP,        // answers ping, so it is in the ARP cache
    HOST_ARP_ONLY,  // drops ping but answers ARP
    HOST_DOWN,      // silent
};

constexpr double DEFAULT_ROUND_TRIP_MS = 1;

struct OtherHost {
    uint32_t Address;
    std::string Mac;
    std::string DnsName;  // empty: the address has no name
    HostState State;
    double RoundTripMs = DEFAULT_ROUND_TRIP_MS;  // how long its ping reply takes
};

// A DNS name whose address has no host behind it.
struct DnsRecord {
    uint32_t Address;
    std::string Name;
};

struct Network {
    OwnMachine Own;
    std::vector<OtherHost> Hosts;
    std::vector<DnsRecord> DnsRecords;
    std::vector<BrowseEntry> Browse;
    double TimeScale = 0;  // > 0: the tools wait as the real ones do, times this
};

// The built-in office network, in the network file format.
extern const char kDemoNetwork[];

// Reads the network file at path, or the demo network when path is null or
// empty. On failure, *error holds one line naming the file (and the line).
bool LoadNetwork(const char* path, Network* network, std::string* error);

// Parses network text; source names the text in error messages.
bool ParseNetworkText(const std::string& text, const std::string& source, Network* network,
                      std::string* error);

bool IsOwnAddress(const Network& network, uint32_t address);

// The name a reverse lookup gives for address; empty when it has none.
std::string NameOfAddress(const Network& network, uint32_t address);
// Forward lookup of a DNS name (or the machine's own name); false when unknown.
bool AddressOfName(const Network& network, const std::string& name, uint32_t* address);
// Whether a ping to address is answered.
bool AnswersPing(const Network& network, uint32_t address);
// How long the reply of an answering address takes, in milliseconds.
double RoundTripMs(const Network& network, uint32_t address);
// The ARP cache entry for address, or nullptr.
const OtherHost* FindArpEntry(const Network& network, uint32_t address);
// The browse-list computer of that NetBIOS name, or nullptr.
const BrowseEntry* FindBrowseEntry(const Network& network, const std::string& name);
