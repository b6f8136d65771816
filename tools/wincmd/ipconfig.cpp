// ipconfig of Windows NT 4.0, 2000, XP and 5.2: the adapter configuration report.
#include "tools.h"

namespace {

struct IpconfigLayout {
    const char* Title;
    int Indent;       // blanks before every label
    int ValueColumn;  // where every value starts, MAC and IP address included
    bool HasDnsSuffix;
    bool HasAutoconfiguration;  // prints a 169.254.x.x address under its own label
    bool EndsWithCrCr;          // a CR before each line end, as its redirected report has
};

const IpconfigLayout kNt4 = {"Windows NT IP Configuration", 8, 31, false, false, false};
const IpconfigLayout kWindows2000 = {"Windows 2000 IP Configuration", 8, 37, false, false, true};
const IpconfigLayout kWindowsXp = {"Windows IP Configuration", 8, 44, true, true, true};
const IpconfigLayout kWindows2003 = {"Windows IP Configuration", 3, 39, true, true, true};

const IpconfigLayout& LayoutOf(WinFormat format) {
    if (format == FORMAT_NT4) return kNt4;
    if (format == FORMAT_2000) return kWindows2000;
    if (format == FORMAT_2003) return kWindows2003;
    return kWindowsXp;
}

// Where the report goes, and how its lines look.
struct Report {
    FILE* Out;
    const IpconfigLayout& Layout;
    WinFormat Format;

    void Line(const std::string& text) const {
        PutLine(Out, Layout.EndsWithCrCr ? text + "\r" : text);
    }
    void Field(const char* label, const std::string& value) const {
        Line(FieldLine(Layout.Indent, label, Layout.ValueColumn, value));
    }
};

std::string AdapterName(WinFormat format, size_t index) {
    if (format == FORMAT_NT4) return "LAN" + std::to_string(index + 1);
    return index == 0 ? "Local Area Connection" : "Local Area Connection " + std::to_string(index + 1);
}

std::string AdapterHeading(const Report& report, size_t index, const OwnAdapter& adapter) {
    if (adapter.Kind != ADAPTER_PPP) {
        return "Ethernet adapter " + AdapterName(report.Format, index) + ":";
    }
    const std::string number = std::to_string(index + 1);
    if (report.Format == FORMAT_NT4) return "Ethernet adapter NdisWan" + number + ":";
    return "PPP adapter Dial-up " + number + ":";
}

std::string AdapterDescription(size_t index, const OwnAdapter& adapter) {
    if (adapter.Kind == ADAPTER_PPP) return "WAN (PPP/SLIP) Interface";
    return index == 0 ? "Fast Ethernet Adapter" : "Fast Ethernet Adapter #" + std::to_string(index + 1);
}

void PutHostPart(const Report& report, const Network& network) {
    report.Field("Host Name", network.MachineName);
    if (report.Layout.HasDnsSuffix) report.Field("Primary Dns Suffix", "");
    report.Field("Node Type", "Hybrid");
    report.Field("IP Routing Enabled", "No");
    report.Field("WINS Proxy Enabled", "No");
}

const char* AddressLabel(const Report& report, uint32_t address) {
    if (report.Layout.HasAutoconfiguration && IsAutoconfigurationAddress(address)) {
        return "Autoconfiguration IP Address";
    }
    return "IP Address";
}

// One adapter; its "Physical" line comes before its "IP Address" line, and no
// other line holds either label. A disconnected adapter has no address lines.
void PutAdapter(const Report& report, size_t index, const OwnAdapter& adapter, bool all) {
    report.Line("");
    report.Line(AdapterHeading(report, index, adapter));
    report.Line("");
    const bool connected = adapter.Kind != ADAPTER_DISCONNECTED;
    if (!connected) report.Field("Media State", "Media disconnected");
    if (connected && report.Layout.HasDnsSuffix) {
        report.Field("Connection-specific DNS Suffix", "");
    }
    if (all) {
        report.Field("Description", AdapterDescription(index, adapter));
        report.Field("Physical Address", adapter.Mac);
    }
    if (!connected) return;
    if (all) report.Field("DHCP Enabled", adapter.Address == 0 ? "Yes" : "No");
    for (uint32_t address : AdapterAddresses(adapter)) {
        report.Field(AddressLabel(report, address), FormatAddress(address));
        report.Field("Subnet Mask", ClassfulMask(address));
    }
    report.Field("Default Gateway", "");
}

}  // namespace

int RunIpconfig(const ToolContext& context, const Arguments& args, FILE* out) {
    const Report report{out, LayoutOf(context.Format), context.Format};
    bool all = false;
    for (const std::string& arg : args) {
        if (SameName(arg, "/all") || SameName(arg, "-all")) {
            all = true;
        } else {
            report.Line("");
            report.Line("Error: unrecognized or incomplete command line.");
            report.Line("");
            report.Line("USAGE:");
            report.Line("    ipconfig [/all]");
            return 1;
        }
    }
    report.Line("");
    report.Line(report.Layout.Title);
    report.Line("");
    if (all) PutHostPart(report, *context.Net);
    for (size_t i = 0; i < context.Net->Adapters.size(); ++i) {
        PutAdapter(report, i, context.Net->Adapters[i], all);
    }
    return 0;
}
