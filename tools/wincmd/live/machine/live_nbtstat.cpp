// nbtstat's answer on the live machine, as Windows finds a computer by name:
// a NetBIOS name query broadcast on the segment, then a node-status request
// to the address that answered; its name table and unit ID make the report.
// Samba sends zeros for the unit ID: the MAC line then shows what the
// neighbour table holds for the address that answered, which has just sent
// its answer, so its entry is there.
#include <algorithm>

#include "live/machine/live_machine.h"
#include "live/kernel/neighbour_entries.h"
#include "live/netbios/netbios.h"

namespace {

NameStatus StatusOfName(NetBiosNameState state) {
    switch (state) {
    case NAME_REGISTERED: return NAME_STATUS_REGISTERED;
    case NAME_CONFLICT: return NAME_STATUS_CONFLICT;
    case NAME_DEREGISTERED:
    case NAME_INACTIVE: break;
    }
    return NAME_STATUS_DEREGISTERED;
}

// The names in the answer's order (shown printable), and its unit ID as it came.
NameTable TableOfNodeStatus(const NodeStatus& status) {
    NameTable table;
    for (const NetBiosName& name : status.Names) {
        table.Rows.push_back({PrintableName(name.Name), name.Suffix, name.Group, StatusOfName(name.State)});
    }
    table.Mac = MacText(status.UnitId.data(), status.UnitId.size());
    return table;
}

bool IsZeroUnitId(const NodeStatus& status) {
    return std::all_of(status.UnitId.begin(), status.UnitId.end(),
                       [](unsigned char byte) { return byte == 0; });
}

}  // namespace

NameTableFound LiveMachine::FindNameTable(const std::string& name, NameTable* table,
                                          std::string* error) {
    uint32_t address = 0;
    NodeStatus status;
    const std::vector<LiveInterface>* interfaces = interfaces_->Get(error);
    if (interfaces == nullptr) return NAME_TABLE_FAILED;
    NetBiosOutcome outcome = NameQuery(*interfaces, name, Clock::now() + kNameQueryTime, &address, error);
    if (outcome == NETBIOS_ANSWER) {
        outcome = AskNodeStatus(room_.get(), address, Clock::now() + kNodeStatusTime, &status, error);
    }
    switch (outcome) {
    case NETBIOS_ANSWER: break;
    case NETBIOS_NO_ANSWER: return NAME_TABLE_NOT_FOUND;
    case NETBIOS_ERROR: return NAME_TABLE_FAILED;
    }
    *table = TableOfNodeStatus(status);
    std::string neighbour_mac;
    std::string unread;  // without the table's MAC the unit ID stands
    if (IsZeroUnitId(status) && NeighbourMacOf(*interfaces, address, &neighbour_mac, &unread) &&
        !neighbour_mac.empty()) {
        table->Mac = neighbour_mac;
    }
    return NAME_TABLE_FOUND;
}
