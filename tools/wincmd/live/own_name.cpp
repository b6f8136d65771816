#include "live/own_name.h"

#include <unistd.h>

#include <algorithm>

bool IsOwnAddress(const std::vector<LiveInterface>& interfaces, uint32_t address) {
    return std::any_of(interfaces.begin(), interfaces.end(), [address](const LiveInterface& interface) {
        return std::find(interface.Addresses.begin(), interface.Addresses.end(), address) !=
               interface.Addresses.end();
    });
}

bool OwnHostName(uint32_t address, std::string* name) {
    std::vector<LiveInterface> interfaces;
    std::string error;  // unread interfaces name nothing here
    if (!ListInterfaces(&interfaces, &error) || !IsOwnAddress(interfaces, address)) return false;
    char host_name[256] = "";
    if (gethostname(host_name, sizeof host_name - 1) != 0 || host_name[0] == '\0') return false;
    *name = host_name;
    return true;
}
