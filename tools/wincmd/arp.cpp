// arp -a: the ARP cache of the simulated machine. A host is in the cache when
// it answers ping or answers ARP alone; the machine's own addresses never are.
#include "tools.h"

namespace {

void PutUsage(FILE* out) {
    PutLine(out, "");
    PutLine(out, "Displays and modifies the IP-to-Physical address translation tables used by");
    PutLine(out, "address resolution protocol (ARP).");
    PutLine(out, "");
    PutLine(out, "ARP -a [inet_addr]");
    PutLine(out, "");
}

std::string LowerCase(const std::string& text) {
    std::string lower = text;
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

std::string EntryLine(const ArpRow& row) {
    return "  " + PadRight(FormatAddress(row.Address), 22) + PadRight(LowerCase(row.Mac), 22) +
           (row.Static ? "static" : "dynamic");
}

}  // namespace

int PutArpReport(FILE* out, const ToolContext& context, uint32_t interface_address,
                 const std::vector<ArpRow>& rows) {
    (void)context;
    if (rows.empty() || interface_address == 0) {
        PutLine(out, "No ARP Entries Found");
        return 1;
    }
    PutLine(out, "");
    PutLine(out, "Interface: " + FormatAddress(interface_address) + " --- 0x2");
    PutLine(out, "  Internet Address      Physical Address      Type");
    for (const ArpRow& row : rows) PutLine(out, EntryLine(row));
    return 0;
}

int RunArp(const ToolContext& context, const Arguments& args, FILE* out) {
    if (args.empty() || (args[0] != "-a" && args[0] != "-g") || args.size() > 2) {
        PutUsage(out);
        return 1;
    }
    const bool one_address = args.size() == 2;
    uint32_t address = 0;
    if (one_address && !ParseAddress(args[1], &address)) {
        PutUsage(out);
        return 1;
    }
    if (context.Live != nullptr) return context.Live->Arp(context, one_address ? &address : nullptr, out);
    const Network& network = *context.Net;
    std::vector<const OtherHost*> entries;
    if (one_address) {
        if (const OtherHost* host = FindArpEntry(network, address)) entries.push_back(host);
    } else {
        for (const OtherHost& host : network.Hosts) {
            if (FindArpEntry(network, host.Address) == &host) entries.push_back(&host);
        }
    }
    std::vector<ArpRow> rows;
    for (const OtherHost* host : entries) rows.push_back({host->Address, host->Mac, false});
    return PutArpReport(out, context, FirstOwnAddress(network), rows);
}
