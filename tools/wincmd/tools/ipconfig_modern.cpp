// ipconfig from version 6 on: every label indented by three blanks, its colon
// at column 37 (or 40 in the Japanese report of 10.0), English or Japanese.
// Lines end with CR LF. The adapters are the simulated machine's own; an idle
// dial-up adapter is not listed, as these versions list only connected ones.
#include "reports/report_text.h"
#include "reports/text_values.h"

namespace {

struct ModernTexts {
    const char* Title;
    const char* EthernetHeading;  // before the connection name
    const char* PppHeading;
    const char* HostName;
    const char* PrimaryDnsSuffix;
    const char* NodeType;
    const char* Hybrid;
    const char* IpRouting;
    const char* WinsProxy;
    const char* MediaState;
    const char* MediaDisconnected;
    const char* DnsSuffix;
    const char* Description;
    const char* PhysicalAddress;
    const char* DhcpEnabled;
    const char* Autoconfiguration;
    const char* LinkLocal;
    const char* Ipv4Address;
    const char* AutoconfigurationIpv4;  // a 169.254.x.x address
    const char* SubnetMask;
    const char* DefaultGateway;
    const char* NetBios;
    const char* Enabled;
    const char* Yes;
    const char* No;
    const char* Preferred;  // after an address in /all; the blank is in the real report too
};

// The blank that ends the suffix labels puts two blanks before their dots.
const ModernTexts kEnglish = {
    "Windows IP Configuration",
    "Ethernet adapter ",
    "PPP adapter ",
    "Host Name",
    "Primary Dns Suffix ",
    "Node Type",
    "Hybrid",
    "IP Routing Enabled",
    "WINS Proxy Enabled",
    "Media State",
    "Media disconnected",
    "Connection-specific DNS Suffix ",
    "Description",
    "Physical Address",
    "DHCP Enabled",
    "Autoconfiguration Enabled",
    "Link-local IPv6 Address",
    "IPv4 Address",
    "Autoconfiguration IPv4 Address",
    "Subnet Mask",
    "Default Gateway",
    "NetBIOS over Tcpip",
    "Enabled",
    "Yes",
    "No",
    "(Preferred) ",
};

const ModernTexts kJapanese = {
    "Windows IP \215\134\220\254",                                         // Windows IP 構成
    "\203C\201[\203T\203l\203b\203g \203A\203_\203v\203^\201[ ",           // イーサネット アダプター
    "PPP \203A\203_\203v\203^\201[ ",                                      // PPP アダプター
    "\203z\203X\203g\226\274",                                             // ホスト名
    "\203v\203\211\203C\203}\203\212 DNS \203T\203t\203B\203b\203N\203X",  // プライマリ DNS サフィックス
    "\203m\201[\203h \203^\203C\203v",                                     // ノード タイプ
    "\203n\203C\203u\203\212\203b\203h",                                   // ハイブリッド
    "IP \203\213\201[\203e\203B\203\223\203O\227L\214\370",                // IP ルーティング有効
    "WINS \203v\203\215\203L\203V\227L\214\370",                           // WINS プロキシ有効
    "\203\201\203f\203B\203A\202\314\217\363\221\324",                     // メディアの状態
    "\203\201\203f\203B\203A\202\315\220\332\221\261\202\263\202\352\202\304\202\242\202\334\202\271"
    "\202\361",                                                            // メディアは接続されていません
    "\220\332\221\261\214\305\227L\202\314 DNS \203T\203t\203B\203b\203N\203X",  // 接続固有の DNS サフィックス
    "\220\340\226\276",                                                    // 説明
    "\225\250\227\235\203A\203h\203\214\203X",                             // 物理アドレス
    "DHCP \227L\214\370",                                                  // DHCP 有効
    "\216\251\223\256\215\134\220\254\227L\214\370",                       // 自動構成有効
    "\203\212\203\223\203N\203\215\201[\203J\203\213 IPv6 \203A\203h\203\214\203X",  // リンクローカル IPv6 アドレス
    "IPv4 \203A\203h\203\214\203X",                                        // IPv4 アドレス
    "\216\251\223\256\215\134\220\254 IPv4 \203A\203h\203\214\203X",       // 自動構成 IPv4 アドレス
    "\203T\203u\203l\203b\203g \203}\203X\203N",                           // サブネット マスク
    "\203f\203t\203H\203\213\203g \203Q\201[\203g\203E\203F\203C",         // デフォルト ゲートウェイ
    "NetBIOS over TCP/IP",
    "\227L\214\370",                                                       // 有効
    "\202\315\202\242",                                                    // はい
    "\202\242\202\242\202\246",                                            // いいえ
    "(\227D\220\346) ",                                                    // (優先)
};

const ModernTexts* const kTexts[LANGUAGE_COUNT] = {&kEnglish, &kJapanese};

constexpr size_t kIndent = 3;

constexpr int kFirstInterfaceIndex = 11;  // after the loopback and tunnel interfaces
const char kDialUpMask[] = "255.255.255.255";

struct Report {
    FILE* Out;
    const ToolContext& Context;
    const ModernTexts& Text;
    const ColonLayout& Colons;
    bool All;

    void Field(const char* label, const std::string& value) const {
        PutLine(Out, LeaderLine(std::string(kIndent, ' ') + label, Colons.Column,
                                Colons.Leader, value));
    }
    // An address line: /all marks the address as the one in use.
    void AddressField(const char* label, const std::string& address) const {
        Field(label, All ? address + Text.Preferred : address);
    }
};

std::string HexGroup(unsigned value) {
    const char kDigits[] = "0123456789abcdef";
    std::string group;
    do {
        group.insert(group.begin(), kDigits[value % 16]);
        value /= 16;
    } while (value != 0);
    return group;
}

// The link-local IPv6 address made from the MAC (fe80:: and the modified
// EUI-64), with the interface index after "%"; empty without a MAC of six
// bytes.
std::string LinkLocalAddress(const std::string& mac, size_t index) {
    if (mac.size() != 17) return "";
    unsigned bytes[6] = {};
    for (size_t i = 0; i < 6; ++i) {
        const int high = HexValue(mac[i * 3]);
        const int low = HexValue(mac[i * 3 + 1]);
        if (high < 0 || low < 0) return "";
        bytes[i] = static_cast<unsigned>(high * 16 + low);
    }
    const unsigned groups[4] = {((bytes[0] ^ 0x02) << 8) | bytes[1], (bytes[2] << 8) | 0xFF,
                                0xFE00 | bytes[3], (bytes[4] << 8) | bytes[5]};
    std::string address = "fe80:";
    for (size_t i = 0; i < 4; ++i) {
        if (i == 0 && groups[0] == 0) continue;  // part of the run of zeros that "::" stands for
        address += ":" + HexGroup(groups[i]);
    }
    return address + "%" + std::to_string(kFirstInterfaceIndex + index);
}

std::string Description(const Report& report, size_t index, const OwnAdapter& adapter) {
    if (adapter.Kind == ADAPTER_PPP) return ConnectionName(report.Context, index, ADAPTER_PPP);
    return index == 0 ? "Fast Ethernet Adapter" : "Fast Ethernet Adapter #" + std::to_string(index + 1);
}

void PutHostPart(const Report& report) {
    const ModernTexts& text = report.Text;
    report.Field(text.HostName, report.Context.Host->Own().Name);
    report.Field(text.PrimaryDnsSuffix, "");
    report.Field(text.NodeType, text.Hybrid);
    report.Field(text.IpRouting, text.No);
    report.Field(text.WinsProxy, text.No);
}

// What /all shows of the adapter itself, connected or not.
void PutHardware(const Report& report, size_t index, const OwnAdapter& adapter) {
    const ModernTexts& text = report.Text;
    // Only an adapter with an address of its own choosing asks a DHCP server.
    const bool dhcp = adapter.Address == 0 || IsAutoconfigurationAddress(adapter.Address);
    report.Field(text.Description, Description(report, index, adapter));
    report.Field(text.PhysicalAddress, adapter.Mac);
    report.Field(text.DhcpEnabled, dhcp ? text.Yes : text.No);
    report.Field(text.Autoconfiguration, text.Yes);
}

// The address lines; an adapter without an address shows none of them.
void PutAddresses(const Report& report, size_t index, const OwnAdapter& adapter) {
    const ModernTexts& text = report.Text;
    const bool dial_up = adapter.Kind == ADAPTER_PPP;
    const std::string link_local = dial_up ? "" : LinkLocalAddress(adapter.Mac, index);
    if (!link_local.empty()) report.AddressField(text.LinkLocal, link_local);
    for (uint32_t address : AdapterAddresses(adapter)) {
        if (address == 0) continue;
        const bool automatic = IsAutoconfigurationAddress(address);
        report.AddressField(automatic ? text.AutoconfigurationIpv4 : text.Ipv4Address,
                            FormatAddress(address));
        report.Field(text.SubnetMask, dial_up ? kDialUpMask : ClassfulMask(address));
    }
    report.Field(text.DefaultGateway, "");
    if (report.All) report.Field(text.NetBios, text.Enabled);
}

// One adapter: its "Physical Address" line comes before its IPv4 line. A
// disconnected adapter has no address lines.
void PutAdapter(const Report& report, size_t index, const OwnAdapter& adapter) {
    const ModernTexts& text = report.Text;
    const char* heading = adapter.Kind == ADAPTER_PPP ? text.PppHeading : text.EthernetHeading;
    PutLine(report.Out, "");
    PutLine(report.Out, heading + ConnectionName(report.Context, index, adapter.Kind) + ":");
    PutLine(report.Out, "");
    const bool connected = adapter.Kind != ADAPTER_DISCONNECTED;
    if (!connected) report.Field(text.MediaState, text.MediaDisconnected);
    report.Field(text.DnsSuffix, "");
    if (report.All) PutHardware(report, index, adapter);
    if (connected) PutAddresses(report, index, adapter);
}

bool IsListed(const OwnAdapter& adapter) {
    return adapter.Kind != ADAPTER_PPP || adapter.Address != 0;
}

}  // namespace

int PutModernIpconfig(const ToolContext& context, bool all, FILE* out) {
    const Report report{out, context, *kTexts[context.Language],
                        context.Style->IpconfigColons[context.Language], all};
    PutLine(out, "");
    PutLine(out, report.Text.Title);
    PutLine(out, "");
    if (all) PutHostPart(report);
    const std::vector<OwnAdapter>& adapters = context.Host->Own().Adapters;
    for (size_t i = 0; i < adapters.size(); ++i) {
        if (IsListed(adapters[i])) PutAdapter(report, i, adapters[i]);
    }
    return 0;
}
