#include "machine/machine.h"

std::vector<uint32_t> AdapterAddresses(const OwnAdapter& adapter) {
    std::vector<uint32_t> addresses{adapter.Address};
    addresses.insert(addresses.end(), adapter.MoreAddresses.begin(), adapter.MoreAddresses.end());
    return addresses;
}

bool IsAutoconfigurationAddress(uint32_t address) { return (address >> 16) == 0xA9FE; }

uint32_t FirstOwnAddress(const OwnMachine& own) {
    for (const OwnAdapter& adapter : own.Adapters) {
        if (adapter.Address != 0) return adapter.Address;
    }
    return 0;
}
