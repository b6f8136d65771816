// nbtstat -a: the NetBIOS name table and MAC address of a computer, as the
// machine finds it by its name.
#include "reports/report_text.h"
#include "reports/text_values.h"

namespace {

constexpr size_t kNetBiosNameWidth = 15;

void PutUsage(FILE* out) {
    PutLine(out, "");
    PutLine(out, "Displays protocol statistics and current TCP/IP connections using NBT");
    PutLine(out, "(NetBIOS over TCP/IP).");
    PutLine(out, "");
    PutLine(out, "NBTSTAT [-a RemoteName]");
    PutLine(out, "");
}

struct NbtstatTexts {
    const char* NodeStart;  // before the own address
    const char* NodeEnd;
    const char* TableTitle;
    const char* Heading;
    const char* Unique;
    const char* Group;
    const char* Statuses[NAME_STATUS_COUNT];  // by NameStatus
    const char* MacLabel;
    const char* NotFound;
};

const NbtstatTexts kEnglish = {
    "Node IpAddress: [",
    "] Scope Id: []",
    "       NetBIOS Remote Machine Name Table",
    "   Name               Type         Status",
    "UNIQUE",
    "GROUP",
    {"Registered", "Conflict", "Deregistered"},
    "MAC Address = ",
    "    Host not found.",
};

// No real capture shows the Japanese report: these are the texts the tool is
// thought to print, the MAC value at column 19.
const NbtstatTexts kJapanese = {
    "\203m\201[\203h IP \203A\203h\203\214\203X: [",  // ノード IP アドレス: [
    "] \203X\203R\201[\203v ID: []",                    // ] スコープ ID: []
    "       NetBIOS \203\212\203\202\201[\203g \203R\203\223\203s\203\205\201[\203^\201[\226\274"
    "\203e\201[\203u\203\213",                          // NetBIOS リモート コンピューター名テーブル
    "   \226\274\221O               \216\355\227\336         \217\363\221\324",  //    名前               種類         状態
    "\210\352\210\323",                          // 一意
    "\203O\203\213\201[\203v",                  // グループ
    {"\223o\230^\215\317",                     // 登録済
     "\213\363\215\317",                        // 競合
     "\223o\230^\211\360\217\352"},             // 登録解除
    "MAC \203A\203h\203\214\203X = ",           // MAC アドレス =
    "    \203z\203X\203g\202\252\214\251\202\302\202\251\202\350\202\334\202\271\202\361\201B",  // ホストが見つかりません。
};

const NbtstatTexts* const kTexts[LANGUAGE_COUNT] = {&kEnglish, &kJapanese};

std::string NameRow(const std::string& indent, const NameTableRow& row, const NbtstatTexts& text) {
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, "<%02X>", row.Suffix);
    return indent + PadRight(row.Name, kNetBiosNameWidth) + suffix + "  " +
           PadRight(row.Group ? text.Group : text.Unique, 12) + text.Statuses[row.Status];
}

// The name table and the MAC line; indent is the block's indentation, which
// puts the MAC at column 14 (no indentation) or 18 (four blanks).
void PutNameTable(FILE* out, const std::string& indent, const NameTable& table,
                  const NbtstatTexts& text) {
    PutLine(out, "");
    PutLine(out, indent + text.TableTitle);
    PutLine(out, "");
    PutLine(out, indent + text.Heading);
    PutLine(out, indent + std::string(45, '-'));
    for (const NameTableRow& row : table.Rows) PutLine(out, NameRow(indent, row, text));
    PutLine(out, "");
    PutLine(out, indent + text.MacLabel + table.Mac);
    PutLine(out, "");
}

// The connection the tool asks through: the style's, or the first connected
// adapter's, named as ipconfig names it.
std::string ConnectionHeading(const ToolContext& context) {
    const char* connection = context.Style->Nbtstat.Connection;
    if (connection != nullptr) return std::string(connection) + ":";
    const std::vector<OwnAdapter>& adapters = context.Host->Own().Adapters;
    for (size_t i = 0; i < adapters.size(); ++i) {
        if (adapters[i].Address != 0) return ConnectionName(context, i, adapters[i].Kind) + ":";
    }
    return ConnectionName(context, 0, ADAPTER_LAN) + ":";
}

// nbtstat -a's report of a computer's name table, or "Host not found." when
// table is null. Returns the tool's exit status.
int PutNbtstatReport(FILE* out, const ToolContext& context, const NameTable* table) {
    const NbtstatTexts& text = *kTexts[context.Language];
    const std::string indent = context.Style->Nbtstat.Indent;
    const bool indented = !indent.empty();
    PutLine(out, "");
    if (indented) {
        PutLine(out, ConnectionHeading(context));
        PutLine(out, text.NodeStart + FormatAddress(FirstOwnAddress(context.Host->Own())) + text.NodeEnd);
    }
    if (table == nullptr) {
        if (indented) PutLine(out, "");
        PutLine(out, text.NotFound);
        PutLine(out, "");
        return 1;
    }
    PutNameTable(out, indent, *table, text);
    return 0;
}

}  // namespace

int RunNbtstat(const ToolContext& context, const Arguments& args, FILE* out) {
    if (args.size() != 2 || args[0] != "-a") {
        PutUsage(out);
        return 1;
    }
    NameTable table;
    std::string error;
    switch (context.Host->FindNameTable(args[1], &table, &error)) {
    case NAME_TABLE_FOUND: return PutNbtstatReport(out, context, &table);
    case NAME_TABLE_NOT_FOUND: return PutNbtstatReport(out, context, nullptr);
    case NAME_TABLE_FAILED: break;
    }
    PutMachineFailure(context, "nbtstat", error);
    return 1;
}
