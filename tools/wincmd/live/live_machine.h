// The live machine (QARVIK_NETWORK=live): the machine wincmd runs on, as its
// kernel, its resolver and the NetBIOS name service of its segment answer.
// ipconfig and winipcfg report its interfaces, ping sends real ICMP echo
// requests, arp reads the kernel's neighbour table, nbtstat asks the
// segment's NetBIOS name service, and net view lists the computers of the
// connected subnets that answer a node-status request as servers. Each
// answer of the interface has a file of its own here: live_ping.cpp,
// live_arp.cpp, live_nbtstat.cpp, live_net.cpp.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "machine.h"

// Whether QARVIK_NETWORK names the live machine.
bool IsLiveNetworkName(const char* value);

// Where the tool that asks the live machine writes: its report, whose folder
// holds the run's shared count of room in the neighbour table (table_room.h),
// and its error stream.
struct LiveInvocation {
    FILE* Report;
    FILE* Errors;
};

class LiveMachine : public Machine {
public:
    explicit LiveMachine(const LiveInvocation& invocation) : invocation_(invocation) {}

    // The host name and one adapter per interface with an Ethernet address,
    // in the system's order. False with the reason when the interfaces cannot
    // be read or none has a hardware address.
    bool ReadOwn(std::string* error);

    const OwnMachine& Own() const override { return own_; }
    bool CanPing(std::string* error) override;
    TargetFound FindTarget(const PingRequest& request, PingTarget* target,
                           std::string* error) override;
    std::unique_ptr<EchoSession> StartEchoes(const PingRequest& request, PingTarget* target,
                                             std::string* error) override;
    bool ReadArpTables(const uint32_t* address, std::vector<ArpTable>* tables,
                       std::string* error) override;
    NameTableFound FindNameTable(const std::string& name, NameTable* table,
                                 std::string* error) override;
    bool ReadBrowseList(std::vector<BrowseEntry>* computers, std::string* error) override;

private:
    const LiveInvocation invocation_;
    OwnMachine own_;
};

// The live machine, its own adapters read when the tool needs them; null
// with the reason when they cannot be read.
std::unique_ptr<Machine> OpenLiveMachine(MachineNeeds needs, const LiveInvocation& invocation,
                                         std::string* error);
