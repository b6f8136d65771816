// wincmd's network-description parser on arbitrary text; a description it
// accepts must keep the promises of its format, and every tool must answer
// from it without failing.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <set>
#include <string>

#include "platform/platform.h"
#include "simulated/network.h"
#include "simulated/simulated_machine.h"
#include "reports/text_values.h"
#include "tools/tool_context.h"

#define CHECK(condition)                     \
    do {                                     \
        if (!(condition)) __builtin_trap();  \
    } while (0)

namespace {

FILE* g_sink = nullptr;

bool IsMac(const std::string& mac) {
    if (mac.size() != 17) return false;
    for (size_t i = 0; i < mac.size(); ++i) {
        char c = mac[i];
        bool ok = i % 3 == 2 ? c == '-' : ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));
        if (!ok) return false;
    }
    return true;
}

bool IsWord(const std::string& text) {
    return text.find_first_of(" \t\n") == std::string::npos;
}

void CheckNetwork(const Network& net) {
    CHECK(!net.Own.Name.empty() && IsWord(net.Own.Name));
    std::set<uint32_t> addresses;
    for (const OwnAdapter& adapter : net.Own.Adapters) {
        CHECK(IsMac(adapter.Mac));
        if (adapter.Kind == ADAPTER_DISCONNECTED) CHECK(adapter.Address == 0);
        if (adapter.Address != 0) CHECK(addresses.insert(adapter.Address).second);
    }
    for (const OtherHost& host : net.Hosts) {
        CHECK(IsMac(host.Mac) && IsWord(host.DnsName) && host.Address != 0);
        CHECK(addresses.insert(host.Address).second);
        uint32_t parsed = 0;
        CHECK(ParseAddress(FormatAddress(host.Address), &parsed) && parsed == host.Address);
    }
    for (const DnsRecord& record : net.DnsRecords) {
        CHECK(!record.Name.empty() && IsWord(record.Name) && record.Address != 0);
        CHECK(addresses.insert(record.Address).second);
    }
    for (const BrowseEntry& entry : net.Browse) {
        CHECK(!entry.Name.empty() && IsWord(entry.Name) && IsMac(entry.Mac));
        CHECK(entry.Remark.find('\n') == std::string::npos);
    }
}

// Every tool of the first byte's version, asked about every entry.
void AskEveryTool(const Network& net, uint8_t version) {
    // The high bit chooses the language, which counts from version 6 on.
    const WinFormat format = static_cast<WinFormat>((version & 0x7F) % (FORMAT_10 + 1));
    const ReportStyle& style = StyleOfFormat(format);
    const uint32_t code_page = (version & 0x80) != 0 ? CODE_PAGE_JAPANESE : 437;
    const std::unique_ptr<Machine> machine = SimulatedMachine(net);
    ToolContext context{&style, machine.get(), g_sink, LanguageOfReports(style, code_page)};
    if (style.Winipcfg != nullptr) {
        RunWinipcfg(context, {"/all"}, g_sink);
    } else {
        RunIpconfig(context, {"/all"}, g_sink);
    }
    RunNet(context, {"view"}, g_sink);
    std::vector<std::string> addresses;
    for (const OtherHost& host : net.Hosts) addresses.push_back(FormatAddress(host.Address));
    for (const DnsRecord& record : net.DnsRecords) {
        addresses.push_back(FormatAddress(record.Address));
        RunPing(context, {"-a", "-n", "1", record.Name}, g_sink);
    }
    for (const std::string& address : addresses) {
        RunPing(context, {"-a", "-n", "1", "-w", "100", address}, g_sink);
        RunArp(context, {"-a", address}, g_sink);
    }
    for (const BrowseEntry& entry : net.Browse) RunNbtstat(context, {"-a", entry.Name}, g_sink);
    RunNbtstat(context, {"-a", net.Own.Name}, g_sink);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_sink = std::fopen("/dev/null", "w");
    return g_sink == nullptr ? 1 : 0;
}

// First byte: the report version and language; the rest is the network file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    Network net;
    std::string error;
    if (!ParseNetworkText(text, "fuzz.txt", &net, &error)) {
        CHECK(!error.empty());
        CHECK(error.compare(0, 8, "fuzz.txt") == 0);
        return 0;
    }
    CheckNetwork(net);
    AskEveryTool(net, data[0]);
    return 0;
}
