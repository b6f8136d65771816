// What the simulated network answers: names, echoes, ARP entries and the
// browse list.
#include "simulated/network.h"

#include "reports/text_values.h"

bool IsOwnAddress(const Network& network, uint32_t address) {
    if (address == 0) return false;
    for (const OwnAdapter& adapter : network.Own.Adapters) {
        if (adapter.Address == address) return true;
    }
    return false;
}

static const OtherHost* FindHost(const Network& network, uint32_t address) {
    for (const OtherHost& host : network.Hosts) {
        if (host.Address == address) return &host;
    }
    return nullptr;
}

std::string NameOfAddress(const Network& network, uint32_t address) {
    if (IsOwnAddress(network, address)) return network.Own.Name;
    if (const OtherHost* host = FindHost(network, address)) return host->DnsName;
    for (const DnsRecord& record : network.DnsRecords) {
        if (record.Address == address) return record.Name;
    }
    return std::string();
}

bool AddressOfName(const Network& network, const std::string& name, uint32_t* address) {
    if (SameName(name, network.Own.Name) && FirstOwnAddress(network.Own) != 0) {
        *address = FirstOwnAddress(network.Own);
        return true;
    }
    for (const OtherHost& host : network.Hosts) {
        if (!host.DnsName.empty() && SameName(name, host.DnsName)) {
            *address = host.Address;
            return true;
        }
    }
    for (const DnsRecord& record : network.DnsRecords) {
        if (SameName(name, record.Name)) {
            *address = record.Address;
            return true;
        }
    }
    return false;
}

bool AnswersPing(const Network& network, uint32_t address) {
    if (IsOwnAddress(network, address)) return true;
    const OtherHost* host = FindHost(network, address);
    return host != nullptr && host->State == HOST_UP;
}

double RoundTripMs(const Network& network, uint32_t address) {
    const OtherHost* host = FindHost(network, address);
    return host != nullptr ? host->RoundTripMs : DEFAULT_ROUND_TRIP_MS;
}

const OtherHost* FindArpEntry(const Network& network, uint32_t address) {
    if (IsOwnAddress(network, address)) return nullptr;
    const OtherHost* host = FindHost(network, address);
    return host != nullptr && host->State != HOST_DOWN ? host : nullptr;
}

const BrowseEntry* FindBrowseEntry(const Network& network, const std::string& name) {
    for (const BrowseEntry& entry : network.Browse) {
        if (SameName(name, entry.Name)) return &entry;
    }
    return nullptr;
}
