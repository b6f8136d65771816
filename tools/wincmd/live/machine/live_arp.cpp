// arp's answers on the live machine: the kernel's neighbour entries, each
// under the adapter it was resolved on. Entries still resolving or failed are
// not listed, as Windows keeps no such rows. Asked for one address within a
// run, after the run's probe to it, arp lists the entry only as an answer to
// that probe (probe_record.h): an entry left from before the probe that the
// kernel has not confirmed since, for a host that did not answer the echo,
// is no sign that the host is there now.
#include <cstdlib>

#include "contract/work_folder.h"
#include "live/kernel/neighbour_entries.h"
#include "live/machine/live_machine.h"
#include "live/room/probe_record.h"

namespace {

// Keeps of table only the entries that answer this run's probe to address,
// when the run recorded one.
void KeepAnswersToProbe(uint32_t address, std::vector<NeighbourEntry>* table) {
    const char* folder = std::getenv(kWorkFolderVariable);
    ProbeRecord probe{};
    if (folder == nullptr || !TakeProbeRecord(folder, address, &probe)) return;
    const int64_t now = MonotonicNowNs();
    const int64_t tick = ClockTickNs();
    std::vector<NeighbourEntry> kept;
    for (const NeighbourEntry& entry : *table) {
        if (AnswersProbe(probe, entry.State, entry.ConfirmedTicksAgo, now, tick)) kept.push_back(entry);
    }
    table->swap(kept);
}

uint32_t OwnAddressOf(const LiveInterface& interface) {
    return interface.Addresses.empty() ? 0 : interface.Addresses.front();
}

// The listed rows of the table on one interface, for every address or one.
std::vector<ArpRow> RowsOn(const std::vector<NeighbourEntry>& table, unsigned index,
                           const uint32_t* address) {
    std::vector<ArpRow> rows;
    for (const NeighbourEntry& entry : table) {
        if (entry.InterfaceIndex != index || (address != nullptr && entry.Address != *address)) continue;
        const NeighbourListing listing = ListingOfNeighbourState(entry.State);
        if (listing == NEIGHBOUR_NOT_LISTED) continue;
        const auto* bytes = reinterpret_cast<const unsigned char*>(entry.HardwareAddress.data());
        rows.push_back({entry.Address, MacText(bytes, entry.HardwareAddress.size()),
                        listing == NEIGHBOUR_STATIC});
    }
    return rows;
}

}  // namespace

bool LiveMachine::ReadArpTables(const uint32_t* address, std::vector<ArpTable>* tables,
                                std::string* error) {
    std::vector<NeighbourEntry> table;
    const std::vector<LiveInterface>* interfaces = interfaces_->Get(error);
    if (interfaces == nullptr || !ReadAdapterEntries(*interfaces, address, &table, error)) {
        return false;
    }
    if (address != nullptr) KeepAnswersToProbe(*address, &table);
    // One table per interface with rows, in the system's order of interfaces.
    for (const LiveInterface& interface : *interfaces) {
        std::vector<ArpRow> rows = RowsOn(table, interface.Index, address);
        // Only adapters have a table (loopback holds entries of its own), and
        // without an IPv4 address of its own an interface has no IPv4 table.
        if (rows.empty() || OwnAddressOf(interface) == 0 || !IsAdapter(interface)) {
            continue;
        }
        tables->push_back({OwnAddressOf(interface), rows});
        if (address != nullptr) break;  // one row is the whole answer
    }
    return true;
}
