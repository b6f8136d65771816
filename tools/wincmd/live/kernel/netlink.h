// The kernel's IPv4 neighbour (ARP) table, asked over routing netlink, which
// gives each entry's state. What the answers mean is read in netlink_answers.h.
#pragma once

#include <string>
#include <vector>

#include "live/kernel/netlink_answers.h"

// The whole table. Every netlink request here gets its answer within a
// deadline of a few seconds or fails with the reason.
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
