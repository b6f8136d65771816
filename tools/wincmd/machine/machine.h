// The machine the stand-in tools report on. The tools read their options and
// write their reports; what the machine knows (its adapters, an echo's
// outcome, a neighbour entry, a computer's name table, the browse list) comes
// through this one interface. Two machines answer it: the simulated one
// (simulated/, from a network file or the demo network) and the live one
// (live/, QARVIK_NETWORK=live, from the machine wincmd runs on). A tool never
// asks which one it has.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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

// The machine as the adapter tools report it.
struct OwnMachine {
    std::string Name;
    std::vector<OwnAdapter> Adapters;
};

// The first connected own address, 0 when every adapter is disconnected.
uint32_t FirstOwnAddress(const OwnMachine& own);

// What ping was asked, once its options are read; the tool's own defaults.
struct PingRequest {
    bool ResolveName = false;        // -a
    unsigned long Count = 4;         // -n
    unsigned long TimeoutMs = 4000;  // -w
    bool TimeoutGiven = false;
    std::string Target;
};

enum TargetFound {
    TARGET_FOUND,
    TARGET_UNKNOWN,  // no such name: the report says so
    TARGET_FAILED,   // the machine could not tell: see the error
};

// Where ping's requests go and the name its header shows.
struct PingTarget {
    uint32_t Address = 0;
    std::string Name;  // empty: the header shows the address alone
    // Set while the name is still being looked up beside the first request:
    // the header waits for it after that request's reply.
    std::function<std::string()> AwaitName;
};

// One echo request of ping, as its report shows it.
struct EchoOutcome {
    bool Replied;
    double TimeMs;  // the round trip of a reply
    int Ttl;        // negative: unknown, and the reply line ends after the time
    bool NoRoute = false;  // the request found no route and never went out
};

// The requests of one ping, in turn; each call waits as long as its request
// takes, the pause between requests included.
class EchoSession {
public:
    virtual ~EchoSession() = default;
    // False with the reason when the request could not be sent or waited for.
    virtual bool Next(EchoOutcome* outcome, std::string* error) = 0;
};

// One row of arp's table.
struct ArpRow {
    uint32_t Address;
    std::string Mac;  // as the simulated network or the kernel gives it
    bool Static;
};

// The rows of one interface, named by its own address.
struct ArpTable {
    uint32_t InterfaceAddress;
    std::vector<ArpRow> Rows;
};

// The state of a name in an nbtstat name table.
enum NameStatus {
    NAME_STATUS_REGISTERED,
    NAME_STATUS_CONFLICT,
    NAME_STATUS_DEREGISTERED,
};
constexpr size_t NAME_STATUS_COUNT = 3;

struct NameTableRow {
    std::string Name;  // without the blanks that pad it to 15 characters
    unsigned char Suffix;
    bool Group;
    NameStatus Status;
};

// What nbtstat -a reports of a computer: its names and the value of its MAC
// Address line.
struct NameTable {
    std::vector<NameTableRow> Rows;
    std::string Mac;
};

enum NameTableFound {
    NAME_TABLE_FOUND,
    NAME_TABLE_NOT_FOUND,  // no computer of that name answered
    NAME_TABLE_FAILED,     // the machine could not ask: see the error
};

struct BrowseEntry {
    std::string Name;  // NetBIOS name, as listed
    std::string Mac;
    std::string Remark;
};

class Machine {
public:
    virtual ~Machine() = default;

    // The host name and the own adapters, in the system's order.
    virtual const OwnMachine& Own() const = 0;

    // Whether ping can open its socket here; false with the reason and its
    // remedy. The adapter tools ask first, so that a run that could not ping
    // finds no own address.
    virtual bool CanPing(std::string* error) = 0;

    // The address of ping's target (an address, or a name to look up), and
    // with -a the name of an address.
    virtual TargetFound FindTarget(const PingRequest& request, PingTarget* target,
                                   std::string* error) = 0;
    // The echo requests to the target; null with the reason when none can be
    // sent. May start the look-up of the target's name (PingTarget::AwaitName).
    virtual std::unique_ptr<EchoSession> StartEchoes(const PingRequest& request,
                                                     PingTarget* target, std::string* error) = 0;

    // arp -a: the neighbour rows of each adapter with an address of its own;
    // for one address (not null) only the first adapter that has its row.
    virtual bool ReadArpTables(const uint32_t* address, std::vector<ArpTable>* tables,
                               std::string* error) = 0;

    // nbtstat -a: the name table of the computer of that NetBIOS name.
    virtual NameTableFound FindNameTable(const std::string& name, NameTable* table,
                                         std::string* error) = 0;

    // net view: the computers of the browse list, in its order.
    virtual bool ReadBrowseList(std::vector<BrowseEntry>* computers, std::string* error) = 0;
};

// What a tool needs of the machine before it runs: ping and arp need nothing
// read up front, which spares every probe of a live sweep the read of the
// interfaces.
enum MachineNeeds {
    NEEDS_OWN_ADAPTERS,
    NEEDS_NOTHING_UP_FRONT,
};

// The machine that network (the value of QARVIK_NETWORK) names: the live one
// for "live", where this build has it; else the simulated one of a network
// file, or of the demo network when network is null or empty. Null with the
// reason when it cannot be opened. needs says what the tool needs up front;
// errors is where the machine says what it has to say beside the report.
std::unique_ptr<Machine> OpenMachine(const char* network, MachineNeeds needs, FILE* errors,
                                     std::string* error);
