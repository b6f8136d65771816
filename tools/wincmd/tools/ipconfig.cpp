// ipconfig: the adapter configuration report. Here the layouts of Windows NT
// 4.0, 2000, XP and 5.2; those of version 6 on are in ipconfig_modern.cpp.
#include "reports/report_text.h"
#include "reports/text_values.h"

enum DnsSuffixLines {
    NO_DNS_SUFFIX_LINES,
    DNS_SUFFIX_LINES,
};

enum AutoconfigurationLabel {
    AUTOCONFIGURATION_AS_IP_ADDRESS,
    AUTOCONFIGURATION_LABELLED,  // a 169.254.x.x address under its own label
};

enum LineEnd {
    CR_LF,
    CR_CR_LF,  // a CR before each line end, as its redirected report has
};

enum AdapterNames {
    ADAPTERS_BY_CONNECTION,  // "Local Area Connection 2", "Dial-up 3"
    ADAPTERS_AS_NT4,         // "LAN1" and "NdisWan1"
};

struct IpconfigLayout {
    const char* Title;
    const char* Indent;  // before every label
    int ValueColumn;     // where every value starts, MAC and IP address included
    DnsSuffixLines DnsSuffixes;
    AutoconfigurationLabel Autoconfiguration;
    LineEnd LineEnds;
    const char* DhcpLabel;
    AdapterNames Names;
};

const char kEightBlanks[] = "        ";

// Windows 2000 indents with a TAB, which leaves room for its longest label.
const IpconfigLayout kIpconfigNt4 = {"Windows NT IP Configuration", kEightBlanks, 31,
                                     NO_DNS_SUFFIX_LINES, AUTOCONFIGURATION_AS_IP_ADDRESS, CR_LF,
                                     "DHCP Enabled", ADAPTERS_AS_NT4};
const IpconfigLayout kIpconfig2000 = {"Windows 2000 IP Configuration", "\t", 37, DNS_SUFFIX_LINES,
                                      AUTOCONFIGURATION_LABELLED, CR_CR_LF, "DHCP Enabled",
                                      ADAPTERS_BY_CONNECTION};
const IpconfigLayout kIpconfigXp = {"Windows IP Configuration", kEightBlanks, 44, DNS_SUFFIX_LINES,
                                    AUTOCONFIGURATION_LABELLED, CR_CR_LF, "Dhcp Enabled",
                                    ADAPTERS_BY_CONNECTION};
const IpconfigLayout kIpconfig2003 = {"Windows IP Configuration", "   ", 39, DNS_SUFFIX_LINES,
                                      AUTOCONFIGURATION_LABELLED, CR_CR_LF, "DHCP Enabled",
                                      ADAPTERS_BY_CONNECTION};

namespace {

// Where the report goes, and how its lines look.
struct Report {
    FILE* Out;
    const IpconfigLayout& Layout;

    void Line(const std::string& text) const {
        PutLine(Out, Layout.LineEnds == CR_CR_LF ? text + "\r" : text);
    }
    void Field(const char* label, const std::string& value) const {
        Line(LeaderLine(Layout.Indent + std::string(label),
                        static_cast<size_t>(Layout.ValueColumn - 2), BLANK_BEFORE_COLON, value));
    }
};

std::string AdapterName(const IpconfigLayout& layout, size_t index) {
    if (layout.Names == ADAPTERS_AS_NT4) return "LAN" + std::to_string(index + 1);
    return index == 0 ? "Local Area Connection" : "Local Area Connection " + std::to_string(index + 1);
}

std::string AdapterHeading(const Report& report, size_t index, const OwnAdapter& adapter) {
    if (adapter.Kind != ADAPTER_PPP) {
        return "Ethernet adapter " + AdapterName(report.Layout, index) + ":";
    }
    const std::string number = std::to_string(index + 1);
    if (report.Layout.Names == ADAPTERS_AS_NT4) return "Ethernet adapter NdisWan" + number + ":";
    return "PPP adapter Dial-up " + number + ":";
}

std::string AdapterDescription(size_t index, const OwnAdapter& adapter) {
    if (adapter.Kind == ADAPTER_PPP) return "WAN (PPP/SLIP) Interface";
    return index == 0 ? "Fast Ethernet Adapter" : "Fast Ethernet Adapter #" + std::to_string(index + 1);
}

void PutHostPart(const Report& report, const OwnMachine& own) {
    report.Field("Host Name", own.Name);
    // The blank that ends the suffix labels puts two blanks before their dots.
    if (report.Layout.DnsSuffixes == DNS_SUFFIX_LINES) report.Field("Primary Dns Suffix ", "");
    report.Field("Node Type", "Hybrid");
    report.Field("IP Routing Enabled", "No");
    report.Field("WINS Proxy Enabled", "No");
}

const char* AddressLabel(const Report& report, uint32_t address) {
    if (report.Layout.Autoconfiguration == AUTOCONFIGURATION_LABELLED &&
        IsAutoconfigurationAddress(address)) {
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
    if (connected && report.Layout.DnsSuffixes == DNS_SUFFIX_LINES) {
        report.Field("Connection-specific DNS Suffix ", "");
    }
    if (all) {
        report.Field("Description", AdapterDescription(index, adapter));
        report.Field("Physical Address", adapter.Mac);
    }
    if (!connected) return;
    if (all) report.Field(report.Layout.DhcpLabel, adapter.Address == 0 ? "Yes" : "No");
    for (uint32_t address : AdapterAddresses(adapter)) {
        report.Field(AddressLabel(report, address), FormatAddress(address));
        report.Field("Subnet Mask", ClassfulMask(address));
    }
    report.Field("Default Gateway", "");
}

// False for any word but the /all switch.
bool ReadSwitches(const Arguments& args, bool* all) {
    for (const std::string& arg : args) {
        if (!SameName(arg, "/all") && !SameName(arg, "-all")) return false;
        *all = true;
    }
    return true;
}

void PutUsage(const Report& report) {
    report.Line("");
    report.Line("Error: unrecognized or incomplete command line.");
    report.Line("");
    report.Line("USAGE:");
    report.Line("    ipconfig [/all]");
}

}  // namespace

int RunIpconfig(const ToolContext& context, const Arguments& args, FILE* out) {
    if (!CanPingHere(context, "ipconfig")) return 1;
    const IpconfigLayout* layout = context.Style->Ipconfig;
    // From version 6 on, lines end with CR LF, as the NT 4.0 ones do.
    const Report report{out, layout != nullptr ? *layout : kIpconfigNt4};
    bool all = false;
    if (!ReadSwitches(args, &all)) {
        PutUsage(report);
        return 1;
    }
    if (layout == nullptr) return PutModernIpconfig(context, all, out);
    report.Line("");
    report.Line(report.Layout.Title);
    report.Line("");
    const OwnMachine& own = context.Host->Own();
    if (all) PutHostPart(report, own);
    for (size_t i = 0; i < own.Adapters.size(); ++i) PutAdapter(report, i, own.Adapters[i], all);
    return 0;
}
