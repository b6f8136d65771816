// ipconfig of Windows NT 4.0, 2000 and XP: the adapter configuration report.
#include "tools.h"

namespace {

constexpr int kIndent = 8;

struct IpconfigLayout {
    const char* Title;
    int ValueColumn;  // where every value starts, MAC and IP address included
    bool HasDnsSuffix;
};

const IpconfigLayout kNt4 = {"Windows NT IP Configuration", 31, false};
const IpconfigLayout kWindows2000 = {"Windows 2000 IP Configuration", 37, false};
const IpconfigLayout kWindowsXp = {"Windows IP Configuration", 44, true};

const IpconfigLayout& LayoutOf(WinFormat format) {
    if (format == FORMAT_NT4) return kNt4;
    if (format == FORMAT_2000) return kWindows2000;
    return kWindowsXp;
}

std::string AdapterName(WinFormat format, size_t index) {
    if (format == FORMAT_NT4) return "LAN" + std::to_string(index + 1);
    return index == 0 ? "Local Area Connection" : "Local Area Connection " + std::to_string(index + 1);
}

std::string AdapterDescription(size_t index) {
    return index == 0 ? "Fast Ethernet Adapter" : "Fast Ethernet Adapter #" + std::to_string(index + 1);
}

void PutField(FILE* out, const IpconfigLayout& layout, const char* label, const std::string& value) {
    PutLine(out, FieldLine(kIndent, label, layout.ValueColumn, value));
}

void PutHostPart(FILE* out, const IpconfigLayout& layout, const Network& network) {
    PutField(out, layout, "Host Name", network.MachineName);
    if (layout.HasDnsSuffix) PutField(out, layout, "Primary Dns Suffix", "");
    PutField(out, layout, "Node Type", "Hybrid");
    PutField(out, layout, "IP Routing Enabled", "No");
    PutField(out, layout, "WINS Proxy Enabled", "No");
}

// One adapter; its "Physical" line comes before its "IP Address" line, and no
// other line holds either label.
void PutAdapter(FILE* out, const IpconfigLayout& layout, WinFormat format, size_t index,
                const OwnAdapter& adapter, bool all) {
    PutLine(out, "");
    PutLine(out, "Ethernet adapter " + AdapterName(format, index) + ":");
    PutLine(out, "");
    if (layout.HasDnsSuffix) PutField(out, layout, "Connection-specific DNS Suffix", "");
    if (all) {
        PutField(out, layout, "Description", AdapterDescription(index));
        PutField(out, layout, "Physical Address", adapter.Mac);
        PutField(out, layout, "DHCP Enabled", adapter.Address == 0 ? "Yes" : "No");
    }
    PutField(out, layout, "IP Address", FormatAddress(adapter.Address));
    PutField(out, layout, "Subnet Mask", ClassfulMask(adapter.Address));
    PutField(out, layout, "Default Gateway", "");
}

}  // namespace

int RunIpconfig(const ToolContext& context, const Arguments& args, FILE* out) {
    bool all = false;
    for (const std::string& arg : args) {
        if (SameName(arg, "/all") || SameName(arg, "-all")) {
            all = true;
        } else {
            PutLine(out, "");
            PutLine(out, "Error: unrecognized or incomplete command line.");
            PutLine(out, "");
            PutLine(out, "USAGE:");
            PutLine(out, "    ipconfig [/all]");
            return 1;
        }
    }
    const IpconfigLayout& layout = LayoutOf(context.Format);
    PutLine(out, "");
    PutLine(out, layout.Title);
    PutLine(out, "");
    if (all) PutHostPart(out, layout, *context.Net);
    for (size_t i = 0; i < context.Net->Adapters.size(); ++i) {
        PutAdapter(out, layout, context.Format, i, context.Net->Adapters[i], all);
    }
    return 0;
}
