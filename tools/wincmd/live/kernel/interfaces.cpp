#include "live/kernel/interfaces.h"

#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>

#include "live/kernel/socket.h"

namespace {

LiveInterface* FindInterfaceNamed(std::vector<LiveInterface>* interfaces, const std::string& name) {
    for (LiveInterface& interface : *interfaces) {
        if (interface.Name == name) return &interface;
    }
    return nullptr;
}

}  // namespace

bool ListInterfaces(std::vector<LiveInterface>* interfaces, std::string* error) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        *error = SystemFailure("cannot list the network interfaces", errno);
        return false;
    }
    // The link entries (AF_PACKET) come first, one per interface in the
    // system's order; the address entries name the interface by its label.
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_PACKET) continue;
        const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
        interfaces->push_back({entry->ifa_name, static_cast<unsigned>(link->sll_ifindex),
                               entry->ifa_flags, link->sll_hatype,
                               std::string(reinterpret_cast<const char*>(link->sll_addr),
                                           link->sll_halen),
                               {}, {}});
    }
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        LiveInterface* interface = FindInterfaceNamed(interfaces, InterfaceOfLabel(entry->ifa_name));
        if (interface == nullptr) continue;  // an address on an interface without a link entry
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        interface->Addresses.push_back(ntohl(address->sin_addr.s_addr));
        const auto* netmask = reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask);
        interface->Netmasks.push_back(netmask != nullptr ? ntohl(netmask->sin_addr.s_addr)
                                                         : 0xFFFFFFFF);
    }
    freeifaddrs(list);
    return true;
}

const std::vector<LiveInterface>* InterfaceList::Get(std::string* error) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!asked_) {
        read_ = ListInterfaces(&interfaces_, &error_);
        asked_ = true;
    }
    if (!read_) *error = error_;
    return read_ ? &interfaces_ : nullptr;
}

bool ListsAsAdapter(unsigned flags, unsigned hardware_type, size_t hardware_length) {
    constexpr size_t kEthernetAddressLength = 6;
    return (flags & IFF_LOOPBACK) == 0 && hardware_type == ARPHRD_ETHER &&
           hardware_length == kEthernetAddressLength;
}

bool IsAdapter(const LiveInterface& interface) {
    return ListsAsAdapter(interface.Flags, interface.HardwareType, interface.HardwareAddress.size());
}

bool IsConnectedInterface(unsigned flags) {
    // IFF_RUNNING is the kernel's operational state: off without carrier.
    return (flags & IFF_UP) != 0 && (flags & IFF_RUNNING) != 0;
}

std::vector<Subnet> ConnectedSubnets(const std::vector<LiveInterface>& interfaces) {
    std::vector<Subnet> subnets;
    for (const LiveInterface& interface : interfaces) {
        if (!IsConnectedInterface(interface.Flags) || (interface.Flags & IFF_LOOPBACK) != 0) {
            continue;
        }
        for (size_t i = 0; i < interface.Addresses.size() && i < interface.Netmasks.size(); ++i) {
            subnets.push_back({interface.Addresses[i], interface.Netmasks[i]});
        }
    }
    return subnets;
}

std::string MacText(const unsigned char* bytes, size_t length) {
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
        if (i > 0) text += '-';
        text += pair;
    }
    return text;
}

std::string InterfaceOfLabel(const std::string& label) { return label.substr(0, label.find(':')); }
