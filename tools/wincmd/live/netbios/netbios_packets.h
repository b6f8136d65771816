// NetBIOS name service packets (UDP port 137): the node-status request that
// asks a host for its name table, the broadcast name query that finds the
// address of a name, and the answers to both. Pure functions on bytes, so that
// every rule can be tried on made-up packets; the sockets are in netbios.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr uint16_t kNetBiosNamePort = 137;
constexpr size_t kNetBiosNameLength = 15;  // the characters before the suffix
constexpr size_t kUnitIdLength = 6;        // the MAC address of the node-status answer

// A request asking the host it is sent to for its name table: the question
// name "*" padded with NULs, type NBSTAT.
std::string NodeStatusRequest(uint16_t transaction_id);

// A broadcast request for the address of a name (type NB), the name in upper
// case, cut or padded with blanks to 15 characters, with the suffix after it.
std::string NameQueryRequest(uint16_t transaction_id, const std::string& name,
                             unsigned char suffix);

// What a received packet is, read against the request it may answer.
enum PacketReading {
    PACKET_ANSWER,         // a positive answer to the request
    PACKET_OTHER_REQUEST,  // not an answer to this request: another transaction id, a
                           // request, another question name or record type
    PACKET_NEGATIVE,       // the answer says no (a non-zero result code)
    PACKET_MALFORMED,      // counts or lengths that do not fit the packet
};

// The state a name table entry shows, from its flags.
enum NetBiosNameState {
    NAME_REGISTERED,    // active
    NAME_CONFLICT,
    NAME_DEREGISTERED,  // being released
    NAME_INACTIVE,      // none of those bits set
};

struct NetBiosName {
    std::string Name;  // the 15 characters without the blanks (or NULs) that pad them
    unsigned char Suffix;
    bool Group;
    NetBiosNameState State;
};

struct NodeStatus {
    std::vector<NetBiosName> Names;  // in the answer's order
    std::array<unsigned char, kUnitIdLength> UnitId;
};

// A node-status answer to the request with this transaction id.
PacketReading ReadNodeStatusResponse(const unsigned char* data, size_t length,
                                     uint16_t transaction_id, NodeStatus* status);

// A name query answer to NameQueryRequest(transaction_id, name, suffix): the
// addresses it gives (host byte order), in its order.
PacketReading ReadNameQueryResponse(const unsigned char* data, size_t length,
                                    uint16_t transaction_id, const std::string& name,
                                    unsigned char suffix, std::vector<uint32_t>* addresses);

// The computer name of a name table as Windows takes it: the first unique
// (not group) name with suffix 0x00, not blank. False when the table has none.
bool ComputerNameOf(const NodeStatus& status, std::string* name);

// A name as a report line shows it: each control byte (below 0x20, and 0x7F)
// as "?", so that a name from the segment never breaks the line it stands on;
// other bytes, code page 932 ones among them, as they came.
std::string PrintableName(const std::string& name);
