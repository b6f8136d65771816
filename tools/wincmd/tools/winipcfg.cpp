// winipcfg of the Japanese Windows 95 and 98: the adapter configuration
// report, written to the file named after its batch switch. The texts are
// code page 932 bytes; Windows 95 writes its katakana half-width.
#include "reports/report_text.h"
#include "reports/text_values.h"

struct WinipcfgText {
    const char* Title;
    const char* HostName;
    const char* DnsServers;
    const char* NodeType;
    const char* Hybrid;
    const char* ScopeId;
    const char* IpRouting;
    const char* WinsProxy;
    const char* AdapterHeading;  // after the adapter's number
    const char* DescriptionLabel;
    const char* Description;
    const char* MacLabel;
    const char* DhcpEnabled;
    const char* IpLabel;
    const char* SubnetMask;
    const char* Gateway;
    const char* DhcpServer;
    const char* WinsServer;
    const char* LeaseObtained;
    const char* LeaseExpires;
    int MacColumn;
    int ValueColumn;  // the IP address and every other value
};

const WinipcfgText kWinipcfg98 = {
    "Windows 98 IP \220\335\222\350",                              // Windows 98 IP 設定
    "\203z\203X\203g\226\274",                                     // ホスト名
    "DNS \203T\201[\203o\201[",                                    // DNS サーバー
    "\203m\201[\203h \203^\203C\203v",                             // ノード タイプ
    "\203n\203C\203u\203\212\203b\203h",                           // ハイブリッド
    "NetBIOS \203X\203R\201[\203v ID",                             // NetBIOS スコープ ID
    "IP \203\213\201[\203e\203B\203\223\203O",                     // IP ルーティング
    "WINS \203v\203\215\203L\203V",                                // WINS プロキシ
    "\203C\201[\203T\203l\203b\203g \203A\203_\203v\203^ :",       // イーサネット アダプタ :
    "\220\340\226\276",                                         // 説明
    "\203C\201[\203T\203l\203b\203g \203A\203_\203v\203^",         // イーサネット アダプタ
    "\225\250\227\235\203A\203h\203\214\203X",                     // 物理アドレス
    "DHCP \227L\214\370",                                          // DHCP 有効
    "IP \203A\203h\203\214\203X",                                  // IP アドレス
    "\203T\203u\203l\203b\203g \203}\203X\203N",                   // サブネット マスク
    "\203Q\201[\203g\203E\203F\203C",                              // ゲートウェイ
    "DHCP \203T\201[\203o\201[",                                   // DHCP サーバー
    "WINS \203T\201[\203o\201[",                                   // WINS サーバー
    "\203\212\201[\203X\216\346\223\276",                          // リース取得
    "\203\212\201[\203X\212\372\214\300",                          // リース期限
    27,
    32,
};

const WinipcfgText kWinipcfg95 = {
    "Windows 95 IP \220\335\222\350",              // Windows 95 IP 設定
    "\316\275\304\226\274",                        // ﾎｽﾄ名
    "DNS \273\260\312\336\260",                    // DNS ｻｰﾊﾞｰ
    "\311\260\304\336 \300\262\314\337",           // ﾉｰﾄﾞ ﾀｲﾌﾟ
    "\312\262\314\336\330\257\304\336",            // ﾊｲﾌﾞﾘｯﾄﾞ
    "NetBIOS \275\272\260\314\337 ID",             // NetBIOS ｽｺｰﾌﾟ ID
    "IP \331\260\303\250\335\270\336",             // IP ﾙｰﾃｨﾝｸﾞ
    "WINS \314\337\333\267\274",                   // WINS ﾌﾟﾛｷｼ
    "\262\260\273\310\257\304 \261\300\336\314\337\300 :",  // ｲｰｻﾈｯﾄ ｱﾀﾞﾌﾟﾀ :
    "\220\340\226\276",                           // 説明
    "\262\260\273\310\257\304 \261\300\336\314\337\300",    // ｲｰｻﾈｯﾄ ｱﾀﾞﾌﾟﾀ
    "\225\250\227\235\261\304\336\332\275",        // 物理ｱﾄﾞﾚｽ
    "DHCP \227L\214\370",                          // DHCP 有効
    "IP \261\304\336\332\275",                     // IP ｱﾄﾞﾚｽ
    "\273\314\336\310\257\304 \317\275\270",       // ｻﾌﾞﾈｯﾄ ﾏｽｸ
    "\303\336\314\253\331\304 \271\336\260\304\263\252\262",  // ﾃﾞﾌｫﾙﾄ ｹﾞｰﾄｳｪｲ
    "DHCP \273\260\312\336\260",                   // DHCP ｻｰﾊﾞｰ
    "WINS \273\260\312\336\260",                   // WINS ｻｰﾊﾞｰ
    "\330\260\275\216\346\223\276",                // ﾘｰｽ取得
    "\330\260\275\212\372\214\300",                // ﾘｰｽ期限
    24,
    29,
};

namespace {

constexpr int kIndent = 8;
const char kYes[] = "\202\315\202\242";      // はい
const char kNo[] = "\202\242\202\242\202\246";  // いいえ
const char kPppDescription[] = "PPP Adapter.";

const char kAllSwitch95[] = "/\221S";                 // /全
const char kBatchSwitch95[] = "/\312\336\257\301";    // /ﾊﾞｯﾁ
const char kDefaultBatchFile[] = "WINIPCFG.OUT";

struct WinipcfgOptions {
    bool All = false;
    bool Batch = false;
    std::string BatchFile = kDefaultBatchFile;
};

bool IsAllSwitch(const std::string& word) {
    return SameName(word, "/all") || SameName(word, kAllSwitch95);
}

bool IsBatchSwitch(const std::string& word) {
    return SameName(word, "/batch") || SameName(word, kBatchSwitch95);
}

// The word after the batch switch names the file unless it is a switch itself
// (a path on this system may start with "/").
WinipcfgOptions ReadOptions(const Arguments& args) {
    WinipcfgOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        if (IsAllSwitch(args[i])) {
            options.All = true;
        } else if (IsBatchSwitch(args[i])) {
            options.Batch = true;
            if (i + 1 < args.size() && !IsAllSwitch(args[i + 1]) && !IsBatchSwitch(args[i + 1])) {
                options.BatchFile = args[++i];
            }
        }
    }
    return options;
}

void PutField(FILE* out, const WinipcfgText& text, const char* label, const std::string& value) {
    PutLine(out, FieldLine(kIndent, label, text.ValueColumn, value));
}

void PutHostPart(FILE* out, const WinipcfgText& text, const OwnMachine& own) {
    PutField(out, text, text.HostName, own.Name);
    PutField(out, text, text.DnsServers, "");
    PutField(out, text, text.NodeType, text.Hybrid);
    PutField(out, text, text.ScopeId, "");
    PutField(out, text, text.IpRouting, kNo);
    PutField(out, text, text.WinsProxy, kNo);
}

// One adapter: its MAC line before its IP line, each label on its own line
// only. A disconnected adapter shows its MAC and nothing after it.
void PutAdapter(FILE* out, const WinipcfgText& text, size_t index, const OwnAdapter& adapter,
                bool all) {
    PutLine(out, "");
    PutLine(out, std::to_string(index) + " " + text.AdapterHeading);
    PutLine(out, "");
    PutField(out, text, text.DescriptionLabel,
             adapter.Kind == ADAPTER_PPP ? kPppDescription : text.Description);
    PutLine(out, FieldLine(kIndent, text.MacLabel, text.MacColumn, adapter.Mac));
    if (adapter.Kind == ADAPTER_DISCONNECTED) return;
    if (all) PutField(out, text, text.DhcpEnabled, adapter.Address == 0 ? kYes : kNo);
    for (uint32_t address : AdapterAddresses(adapter)) {
        PutLine(out, FieldLine(kIndent, text.IpLabel, text.ValueColumn, FormatAddress(address)));
        PutField(out, text, text.SubnetMask, ClassfulMask(address));
    }
    PutField(out, text, text.Gateway, "");
    if (!all) return;
    PutField(out, text, text.DhcpServer, "");
    PutField(out, text, text.WinsServer, "");
    PutField(out, text, text.LeaseObtained, "");
    PutField(out, text, text.LeaseExpires, "");
}

void PutReport(FILE* out, const WinipcfgText& text, const OwnMachine& own, bool all) {
    PutLine(out, "");
    PutLine(out, text.Title);
    PutLine(out, "");
    if (all) PutHostPart(out, text, own);
    for (size_t i = 0; i < own.Adapters.size(); ++i) {
        PutAdapter(out, text, i, own.Adapters[i], all);
    }
}

}  // namespace

int RunWinipcfg(const ToolContext& context, const Arguments& args, FILE* out) {
    if (!CanPingHere(context, "winipcfg")) return 1;
    const WinipcfgText& text = *context.Style->Winipcfg;
    WinipcfgOptions options = ReadOptions(args);
    if (!options.Batch) {  // no window to show: the report goes to standard output
        PutReport(out, text, context.Host->Own(), options.All);
        return 0;
    }
    FILE* file = std::fopen(options.BatchFile.c_str(), "wb");
    if (file == nullptr) {
        std::fprintf(context.Errors, "winipcfg: cannot write %s\n", options.BatchFile.c_str());
        return 1;
    }
    PutReport(file, text, context.Host->Own(), options.All);
    bool written = std::fclose(file) == 0;
    return written ? 0 : 1;
}
