#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "live/kernel.h"
#include "live/live_tools.h"

const LiveTools kLiveTools = {CanPingLive, RunLivePing, RunLiveArp, RunLiveNbtstat, LiveBrowseList};

bool IsLiveNetworkName(const char* value) { return value != nullptr && std::strcmp(value, "live") == 0; }

namespace {

OwnAdapter AdapterOfInterface(const LiveInterface& interface) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(interface.HardwareAddress.data());
    OwnAdapter adapter{0, MacText(bytes, interface.HardwareAddress.size()), ADAPTER_DISCONNECTED};
    if (!IsConnectedInterface(interface.Flags)) return adapter;
    adapter.Kind = ADAPTER_LAN;
    if (!interface.Addresses.empty()) {
        adapter.Address = interface.Addresses.front();
        adapter.MoreAddresses.assign(interface.Addresses.begin() + 1, interface.Addresses.end());
    }
    return adapter;
}

}  // namespace

bool CanPingLive(const ToolContext& context, const char* tool) {
    std::string error;
    if (CanOpenEchoSocket(&error)) return true;
    std::fprintf(context.Errors, "wincmd: %s: %s\n", tool, error.c_str());
    return false;
}

bool LoadLiveMachine(Network* network, std::string* error) {
    char host_name[256] = "";
    if (gethostname(host_name, sizeof host_name - 1) != 0) {
        *error = std::string("live network: cannot read the host name: ") + std::strerror(errno);
        return false;
    }
    network->MachineName = host_name;
    std::vector<LiveInterface> interfaces;
    if (!ListInterfaces(&interfaces, error)) {
        *error = "live network: " + *error;
        return false;
    }
    for (const LiveInterface& interface : interfaces) {
        if (ListsAsAdapter(interface.Flags, interface.HardwareType, interface.HardwareAddress.size())) {
            network->Adapters.push_back(AdapterOfInterface(interface));
        }
    }
    if (network->Adapters.empty()) {
        *error = "live network: no network interface with a hardware address";
        return false;
    }
    return true;
}
