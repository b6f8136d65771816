#include "live/interfaces.h"

#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "live/kernel_answers.h"

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
