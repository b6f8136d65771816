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

#include "live/kernel/interfaces.h"
#include "live/room/neighbour_room.h"
#include "machine/machine.h"

// Whether QARVIK_NETWORK names the live machine.
bool IsLiveNetworkName(const char* value);

// A name of the system (the resolver's, the host name), which is UTF-8, in
// the console's code page as Windows prints names: code page 932, or the
// simulated version's (QARVIK_CODEPAGE); "?" for a character the code page
// lacks or a byte that is no UTF-8.
std::string NameInConsoleCodePage(const std::string& name);

class LiveMachine : public Machine {
public:
    // errors: where the machine says what it has to say beside a report.
    explicit LiveMachine(FILE* errors);

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
    FILE* const errors_;
    OwnMachine own_;
    // Read once for the tool's run, and shared with the room and with name
    // look-ups that may outlive the tool's main thread.
    const std::shared_ptr<InterfaceList> interfaces_;
    // The room of the run in the kernel's neighbour table (neighbour_room.h).
    const std::shared_ptr<NeighbourRoom> room_;
};

// The live machine, its own adapters read when the tool needs them; null
// with the reason when they cannot be read.
std::unique_ptr<Machine> OpenLiveMachine(MachineNeeds needs, FILE* errors, std::string* error);
