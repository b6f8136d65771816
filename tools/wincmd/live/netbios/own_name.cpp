#include "live/netbios/own_name.h"

#include <unistd.h>

#include <algorithm>
#include <vector>

namespace {

// An address of any interface, loopback's included, as Windows counts its own.
bool IsOwnAddress(const std::vector<LiveInterface>& interfaces, uint32_t address) {
    for (const LiveInterface& interface : interfaces) {
        const std::vector<uint32_t>& addresses = interface.Addresses;
        if (std::find(addresses.begin(), addresses.end(), address) != addresses.end()) return true;
    }
    return false;
}

}  // namespace

bool OwnHostName(const std::vector<LiveInterface>& interfaces, uint32_t address,
                 std::string* name) {
    if (!IsOwnAddress(interfaces, address)) return false;
    char host_name[256] = "";
    if (gethostname(host_name, sizeof host_name - 1) != 0 || host_name[0] == '\0') return false;
    *name = host_name;
    return true;
}
