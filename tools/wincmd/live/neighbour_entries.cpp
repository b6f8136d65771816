#include "live/neighbour_entries.h"

namespace {

bool IsAdapterWithAddress(const LiveInterface& interface) {
    return !interface.Addresses.empty() &&
           ListsAsAdapter(interface.Flags, interface.HardwareType, interface.HardwareAddress.size());
}

}  // namespace

bool ReadAdapterEntries(const std::vector<LiveInterface>& interfaces, const uint32_t* address,
                        std::vector<NeighbourEntry>* table, std::string* error) {
    if (address == nullptr) return ReadNeighbourTable(table, error);
    for (const LiveInterface& interface : interfaces) {
        if (!IsAdapterWithAddress(interface)) continue;
        bool answered = false;
        if (!ReadNeighbourEntry(*address, interface.Index, table, &answered, error)) return false;
        if (!answered) {
            table->clear();
            return ReadNeighbourTable(table, error);
        }
    }
    return true;
}

bool NeighbourMacOf(uint32_t address, std::string* mac, std::string* error) {
    std::vector<LiveInterface> interfaces;
    std::vector<NeighbourEntry> table;
    if (!ListInterfaces(&interfaces, error) || !ReadAdapterEntries(interfaces, &address, &table, error)) {
        return false;
    }
    mac->clear();
    for (const NeighbourEntry& entry : table) {
        if (entry.Address == address && !entry.HardwareAddress.empty() &&
            ListingOfNeighbourState(entry.State) != NEIGHBOUR_NOT_LISTED) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(entry.HardwareAddress.data());
            *mac = MacText(bytes, entry.HardwareAddress.size());
            return true;
        }
    }
    return true;
}
