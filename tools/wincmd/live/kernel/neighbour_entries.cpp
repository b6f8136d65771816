#include "live/kernel/neighbour_entries.h"

#include "live/kernel/netlink.h"

bool ReadAdapterEntries(const std::vector<LiveInterface>& interfaces, const uint32_t* address,
                        std::vector<NeighbourEntry>* table, std::string* error) {
    if (address == nullptr) return ReadNeighbourTable(table, error);
    for (const LiveInterface& interface : interfaces) {
        if (interface.Addresses.empty() || !IsAdapter(interface)) continue;
        bool answered = false;
        if (!ReadNeighbourEntry(*address, interface.Index, table, &answered, error)) return false;
        if (!answered) {
            table->clear();
            return ReadNeighbourTable(table, error);
        }
    }
    return true;
}

bool NeighbourMacOf(const std::vector<LiveInterface>& interfaces, uint32_t address,
                    std::string* mac, std::string* error) {
    std::vector<NeighbourEntry> table;
    if (!ReadAdapterEntries(interfaces, &address, &table, error)) return false;
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
