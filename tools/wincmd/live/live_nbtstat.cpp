// nbtstat -a of the live machine, as Windows finds a computer by name: a
// NetBIOS name query broadcast on the segment, then a node-status request to
// the address that answered; its name table and unit ID make the report.
// Samba sends zeros for the unit ID: the MAC line then shows what the
// neighbour table holds for the address that answered, which has just sent
// its answer, so its entry is there.
#include <algorithm>

#include "live/kernel_answers.h"
#include "live/live_tools.h"
#include "live/neighbour_entries.h"
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

int RunLiveNbtstat(const ToolContext& context, const std::string& name, FILE* out) {
    uint32_t address = 0;
    NodeStatus status;
    std::string error;
    NetBiosOutcome outcome = NameQuery(name, Clock::now() + kNameQueryTime, &address, &error);
    if (outcome == NETBIOS_ANSWER) {
        outcome = AskNodeStatus(address, Clock::now() + kNodeStatusTime, &status, &error);
    }
    if (outcome == NETBIOS_ERROR) {
        std::fprintf(context.Errors, "wincmd: nbtstat: %s\n", error.c_str());
        return 1;
    }
    if (outcome == NETBIOS_NO_ANSWER) return PutNbtstatReport(out, context, nullptr);
    NameTable table = TableOfNodeStatus(status);
    std::string neighbour_mac;
    if (IsZeroUnitId(status) && NeighbourMacOf(address, &neighbour_mac, &error) &&
        !neighbour_mac.empty()) {
        table.Mac = neighbour_mac;
    }
    return PutNbtstatReport(out, context, &table);
}
