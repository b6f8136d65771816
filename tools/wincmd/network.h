// The simulated network that the stand-in tools answer from: the machine's own
// adapters, the other hosts of the segment, DNS names and the browse list.
// Everything a tool reports comes from here; no packet is ever sent.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum HostState {
    HOST_UP,        // answers ping, so it is in the ARP cache
    HOST_ARP_ONLY,  // drops ping but answers ARP
    HOST_DOWN,      // silent
};

constexpr double DEFAULT_ROUND_TRIP_MS = 1;

enum AdapterKind {
    ADAPTER_LAN,
    ADAPTER_DISCONNECTED,  // "Media disconnected": a MAC and no address line
    ADAPTER_PPP,           // a dial-up adapter
};

struct OwnAdapter {
    uint32_t Address;  // 0: none (0.0.0.0, or disconnected)
    std::string Mac;   // upper case, "00-A0-C9-12-34-56"
    AdapterKind Kind;
    std::vector<uint32_t> MoreAddresses = {};  // a live interface's further IPv4 addresses
};

// Every address of a connected adapter, each shown with its own address lines.
std::vector<uint32_t> AdapterAddresses(const OwnAdapter& adapter);

// Whether the adapter's address was given to itself for want of a DHCP
// server (169.254.x.x).
bool IsAutoconfigurationAddress(uint32_t address);

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

struct BrowseEntry {
    std::string Name;  // NetBIOS name, as listed
    std::string Mac;
    std::string Remark;
};

struct Network {
    std::string MachineName;
    std::vector<OwnAdapter> Adapters;
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

// The value of a hexadecimal digit in either case; -1 for any other character.
int HexValue(char c);

// Dotted decimal, four numbers of 0 to 255.
bool ParseAddress(std::string_view text, uint32_t* address);
std::string FormatAddress(uint32_t address);

// Whether two NetBIOS or DNS names are the same, ignoring the case of ASCII
// letters but never touching the second byte of a code page 932 character.
bool SameName(const std::string& a, const std::string& b);

// The first connected own address, 0 when every adapter is disconnected.
uint32_t FirstOwnAddress(const Network& network);
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
