// nbtstat's answer on the live machine, as Windows finds a computer by name:
// a NetBIOS name query broadcast on the segment, then a node-status request
// to the address that answered; its name table and unit ID make the report.
#include "live/kernel_answers.h"
#include "live/live_machine.h"
#include "live/netbios.h"

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

// The names in the answer's order (shown printable), and its unit ID as it came (Samba sends
// zeros).
NameTable TableOfNodeStatus(const NodeStatus& status) {
    NameTable table;
    for (const NetBiosName& name : status.Names) {
        table.Rows.push_back({PrintableName(name.Name), name.Suffix, name.Group, StatusOfName(name.State)});
    }
    table.Mac = MacText(status.UnitId.data(), status.UnitId.size());
    return table;
}

}  // namespace

NameTableFound LiveMachine::FindNameTable(const std::string& name, NameTable* table,
                                          std::string* error) {
    uint32_t address = 0;
    NodeStatus status;
    NetBiosOutcome outcome = NameQuery(name, Clock::now() + kNameQueryTime, &address, error);
    if (outcome == NETBIOS_ANSWER) {
        outcome = AskNodeStatus(address, Clock::now() + kNodeStatusTime, &status, error);
    }
    switch (outcome) {
    case NETBIOS_ANSWER: break;
    case NETBIOS_NO_ANSWER: return NAME_TABLE_NOT_FOUND;
    case NETBIOS_ERROR: return NAME_TABLE_FAILED;
    }
    *table = TableOfNodeStatus(status);
    return NAME_TABLE_FOUND;
}
