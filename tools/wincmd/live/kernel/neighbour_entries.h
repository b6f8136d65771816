// The kernel's neighbour entries as the live tools read them: for one address
// on each adapter, or the whole table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "live/kernel/interfaces.h"
#include "live/kernel/netlink_answers.h"

// The entries arp may list: the whole table (address null), or for one
// address its entry on each adapter, read one by one where the kernel can be
// asked for one (else the whole table).
bool ReadAdapterEntries(const std::vector<LiveInterface>& interfaces, const uint32_t* address,
                        std::vector<NeighbourEntry>* table, std::string* error);

// The hardware address the neighbour table holds for address on any adapter,
// as arp would list it; empty when it holds none.
bool NeighbourMacOf(const std::vector<LiveInterface>& interfaces, uint32_t address,
                    std::string* mac, std::string* error);
