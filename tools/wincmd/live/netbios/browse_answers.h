// What live net view makes of the segment's node-status answers: the
// addresses it asks, the name each answer lists, and the list itself. Pure
// functions, so that every rule can be tried on made-up answers; the sweep
// that sends the requests is in node_status_sweep.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "live/kernel/interfaces.h"
#include "live/netbios/netbios_packets.h"

// The widest subnet swept whole: a wider one is swept in the block of this
// size that holds the interface's address (4094 addresses).
constexpr int kWidestSweptPrefix = 20;

// The addresses net view asks, in ascending order, each once: every address
// of the subnet of each IPv4 address (by its mask) of every connected
// interface but the loopback, without the subnet's own address and its
// broadcast address (a /31 has both of its addresses, a /32 none).
std::vector<uint32_t> SweptAddresses(const std::vector<LiveInterface>& interfaces);

// The name under which a node-status answer lists its computer: its first
// unique name with suffix 0x20 (the server service) that is neither in
// conflict nor being released, printable. False when the table has none.
bool ServerNameOf(const NodeStatus& status, std::string* name);

// The browse list of the answers' server names: each name once, sorted as a
// browse list is (by name, letters in either case alike).
std::vector<std::string> BrowseNames(const std::vector<NodeStatus>& answers);
