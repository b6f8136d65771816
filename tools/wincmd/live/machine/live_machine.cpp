#include "live/machine/live_machine.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "contract/terminal_charset.h"
#include "contract/windows_version.h"
#include "live/kernel/echo_socket.h"

bool IsLiveNetworkName(const char* value) { return value != nullptr && std::strcmp(value, "live") == 0; }

std::string NameInConsoleCodePage(const std::string& name) {
    std::string converted;
    if (!TypedInCodePage("UTF-8", ReadReportCodePage(), name.data(), name.size(), &converted)) {
        return name;  // no conversion at all: the bytes as the system gave them
    }
    return converted;
}

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

LiveMachine::LiveMachine(FILE* errors)
    : errors_(errors),
      interfaces_(std::make_shared<InterfaceList>()),
      room_(NeighbourRoom::OfThisProcess(interfaces_)) {}

bool LiveMachine::ReadOwn(std::string* error) {
    char host_name[256] = "";
    if (gethostname(host_name, sizeof host_name - 1) != 0) {
        *error = std::string("live network: cannot read the host name: ") + std::strerror(errno);
        return false;
    }
    own_.Name = NameInConsoleCodePage(host_name);
    const std::vector<LiveInterface>* interfaces = interfaces_->Get(error);
    if (interfaces == nullptr) {
        *error = "live network: " + *error;
        return false;
    }
    for (const LiveInterface& interface : *interfaces) {
        if (IsAdapter(interface)) own_.Adapters.push_back(AdapterOfInterface(interface));
    }
    if (own_.Adapters.empty()) {
        *error = "live network: no network interface with a hardware address";
        return false;
    }
    return true;
}

bool LiveMachine::CanPing(std::string* error) { return CanOpenEchoSocket(error); }

std::unique_ptr<Machine> OpenLiveMachine(MachineNeeds needs, FILE* errors, std::string* error) {
    auto machine = std::make_unique<LiveMachine>(errors);
    if (needs == NEEDS_OWN_ADAPTERS && !machine->ReadOwn(error)) return nullptr;
    return machine;
}
