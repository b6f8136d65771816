// net view: the computers of the browse list with their remarks.
#include "tools.h"

namespace {

constexpr size_t kNameColumnWidth = 23;  // "\\" and the name, padded

void PutUsage(FILE* out) {
    PutLine(out, "The syntax of this command is:");
    PutLine(out, "");
    PutLine(out, "");
    PutLine(out, "NET VIEW");
    PutLine(out, "");
}

}  // namespace

int RunNet(const ToolContext& context, const Arguments& args, FILE* out) {
    if (args.size() != 1 || !SameName(args[0], "view")) {
        PutUsage(out);
        return 1;
    }
    const Network& network = *context.Net;
    if (network.Browse.empty()) {
        PutLine(out, "There are no entries in the list.");
        PutLine(out, "");
        return 0;
    }
    PutLine(out, "Server Name            Remark");
    PutLine(out, "");
    PutLine(out, std::string(79, '-'));
    for (const BrowseEntry& entry : network.Browse) {
        PutLine(out, PadRight("\\\\" + entry.Name, kNameColumnWidth) + entry.Remark);
    }
    PutLine(out, "The command completed successfully.");
    PutLine(out, "");
    return 0;
}
