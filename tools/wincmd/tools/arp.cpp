// arp -a: the machine's ARP cache, one block per adapter that has rows, or
// for one address its row.
#include "reports/report_text.h"
#include "reports/text_values.h"

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

struct ArpTexts {
    const char* NoEntries;
    const char* Interface;
    const char* Heading;
    const char* Dynamic;
    const char* Static;
};

const ArpTexts kEnglish = {
    "No ARP Entries Found",
    "Interface: ",
    "  Internet Address      Physical Address      Type",
    "dynamic",
    "static",
};

// The heading is not over the columns, as in the real report. The message
// for an empty table rests on no real capture.
const ArpTexts kJapanese = {
    "ARP \203G\203\223\203g\203\212\202\252\214\251\202\302\202\251\202\350\202\334\202\271"
    "\202\361\202\305\202\265\202\275\201B",     // ARP エントリが見つかりませんでした。
    "\203C\203\223\203^\201[\203t\203F\203C\203X: ",  // インターフェイス:
    "  \203C\203\223\203^\201[\203l\203b\203g \203A\203h\203\214\203X "
    "\225\250\227\235\203A\203h\203\214\203X           \216\355\227\336",  //   インターネット アドレス 物理アドレス           種類
    "\223\256\223I",  // 動的
    "\220\303\223I",  // 静的
};

const ArpTexts* const kTexts[LANGUAGE_COUNT] = {&kEnglish, &kJapanese};

constexpr size_t kColumnWidth = 22;  // puts the MAC at 24 and the type at 46

std::string EntryLine(const ArpStyle& style, const ArpTexts& text, const ArpRow& row) {
    const std::string type = row.Static ? text.Static : text.Dynamic;
    return "  " + PadRight(FormatAddress(row.Address), kColumnWidth) +
           PadRight(LowerCase(row.Mac), kColumnWidth) +
           (style.TypeWidth == 0 ? type : PadRight(type, style.TypeWidth));
}

// arp's report of rows found for the interface with the given own address; no
// rows (or no interface address) print the "No ARP Entries Found" report.
// Returns the tool's exit status.
int PutArpReport(FILE* out, const ToolContext& context, uint32_t interface_address,
                 const std::vector<ArpRow>& rows) {
    const ArpStyle& style = context.Style->Arp;
    const ArpTexts& text = *kTexts[context.Language];
    if (rows.empty() || interface_address == 0) {
        PutLine(out, text.NoEntries);
        return 1;
    }
    PutLine(out, "");
    PutLine(out, text.Interface + FormatAddress(interface_address) + " --- " + style.InterfaceIndex);
    PutLine(out, text.Heading);
    for (const ArpRow& row : rows) PutLine(out, EntryLine(style, text, row));
    return 0;
}

}  // namespace

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
    std::vector<ArpTable> tables;
    std::string error;
    if (!context.Host->ReadArpTables(one_address ? &address : nullptr, &tables, &error)) {
        PutMachineFailure(context, "arp", error);
        return 1;
    }
    bool any_table = false;
    for (const ArpTable& table : tables) {
        if (table.Rows.empty() || table.InterfaceAddress == 0) continue;
        PutArpReport(out, context, table.InterfaceAddress, table.Rows);
        any_table = true;
    }
    return any_table ? 0 : PutArpReport(out, context, 0, {});
}
