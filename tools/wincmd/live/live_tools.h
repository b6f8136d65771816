// The tools of the live machine (QARVIK_NETWORK=live): they answer from the
// machine wincmd runs on, in the report formats of the simulated version.
// ipconfig and winipcfg report the machine's interfaces, ping sends real ICMP
// echo requests, arp reads the kernel's neighbour table, nbtstat asks the
// segment's NetBIOS name service, and net view lists the computers of the
// connected subnets that answer a node-status request as servers.
#pragma once

#include <string>

#include "tools.h"

// Whether QARVIK_NETWORK names the live machine.
bool IsLiveNetworkName(const char* value);

// The machine as the adapter tools report it: the host name and one adapter
// per interface with an Ethernet address, in the system's order; no other
// hosts, no DNS records, no browse list. False with the reason when the
// interfaces cannot be read or none has a hardware address.
bool LoadLiveMachine(Network* network, std::string* error);

bool CanPingLive(const ToolContext& context, const char* tool);
int RunLivePing(const ToolContext& context, const PingRequest& request, FILE* out);
int RunLiveArp(const ToolContext& context, const uint32_t* address, FILE* out);
int RunLiveNbtstat(const ToolContext& context, const std::string& name, FILE* out);
bool LiveBrowseList(const ToolContext& context, std::vector<BrowseEntry>* browse);

extern const LiveTools kLiveTools;
