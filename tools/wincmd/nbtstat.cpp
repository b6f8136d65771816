// nbtstat -a: the NetBIOS name table and MAC address of a browse-list computer.
#include "tools.h"

namespace {

constexpr size_t kNetBiosNameWidth = 15;
const char kWorkgroup[] = "WORKGROUP";

void PutUsage(FILE* out) {
    PutLine(out, "");
    PutLine(out, "Displays protocol statistics and current TCP/IP connections using NBT");
    PutLine(out, "(NetBIOS over TCP/IP).");
    PutLine(out, "");
    PutLine(out, "NBTSTAT [-a RemoteName]");
    PutLine(out, "");
}

std::string NameRow(const std::string& indent, const std::string& name, const char* suffix,
                    const char* type) {
    return indent + PadRight(name, kNetBiosNameWidth) + suffix + "  " + PadRight(type, 12) +
           "Registered";
}

// The name table and the MAC line; indent is the block's indentation, which
// puts the MAC at column 14 (no indentation) or 18 (four blanks).
void PutNameTable(FILE* out, const std::string& indent, const BrowseEntry& entry) {
    PutLine(out, "");
    PutLine(out, indent + "       NetBIOS Remote Machine Name Table");
    PutLine(out, "");
    PutLine(out, indent + "   Name               Type         Status");
    PutLine(out, indent + std::string(45, '-'));
    PutLine(out, NameRow(indent, entry.Name, "<00>", "UNIQUE"));
    PutLine(out, NameRow(indent, kWorkgroup, "<00>", "GROUP"));
    PutLine(out, NameRow(indent, entry.Name, "<20>", "UNIQUE"));
    PutLine(out, NameRow(indent, kWorkgroup, "<1E>", "GROUP"));
    PutLine(out, "");
    PutLine(out, indent + "MAC Address = " + entry.Mac);
    PutLine(out, "");
}

}  // namespace

int RunNbtstat(const ToolContext& context, const Arguments& args, FILE* out) {
    if (args.size() != 2 || args[0] != "-a") {
        PutUsage(out);
        return 1;
    }
    const Network& network = *context.Net;
    const BrowseEntry* entry = FindBrowseEntry(network, args[1]);
    const bool indented = context.Format == FORMAT_2000 || PrintsLikeXp(context.Format);
    const std::string indent = indented ? "    " : "";
    PutLine(out, "");
    if (indented) {
        PutLine(out, "Local Area Connection:");
        PutLine(out, "Node IpAddress: [" + FormatAddress(FirstOwnAddress(network)) + "] Scope Id: []");
    }
    if (entry == nullptr) {
        if (indented) PutLine(out, "");
        PutLine(out, "    Host not found.");
        PutLine(out, "");
        return 1;
    }
    PutNameTable(out, indent, *entry);
    return 0;
}
