// The report styles of the simulated Windows versions: one row per format,
// which the tools read wherever the reports of the versions differ.
#include "tools.h"

#include "platform/platform.h"

WinFormat FormatOfVersion(uint32_t major, uint32_t minor, uint32_t build) {
    const PlatformVersion version = {major, minor, build, false};
    if (IsWin95Family(version)) return minor == 10 ? FORMAT_98 : FORMAT_95;
    if (major == 4) return FORMAT_NT4;
    if (major == 5 && minor == 0) return FORMAT_2000;
    if (major == 5 && minor == 2) return FORMAT_2003;
    if (!IsVersion6OrLater(version)) return FORMAT_XP;
    if (major == 10 && minor == 0) return FORMAT_10;
    return major == 6 && minor <= 1 ? FORMAT_VISTA : FORMAT_8;
}

namespace {

const char kWinipcfg[] = "winipcfg";
const char kIpconfig[] = "ipconfig";

// In bytes of the report's code page, English then Japanese. The Japanese
// report of 7 aligns like the English one; that of 10.0 has its colons three
// columns further right.
constexpr ColonLayout kColonsAt37[LANGUAGE_COUNT] = {{37, false}, {37, false}};
constexpr ColonLayout kJapaneseColonsAt40[LANGUAGE_COUNT] = {{37, false}, {40, true}};

const char kLocalAreaConnection[] = "Local Area Connection";
const char kDialUp[] = "Dial-up Connection";
const char kJapaneseDialUp[] = "\203_\203C\203\204\203\213\203A\203b\203v\220\332\221\261";  // ダイヤルアップ接続
constexpr ConnectionNames kVistaConnections[LANGUAGE_COUNT] = {
    {kLocalAreaConnection, kDialUp},
    {"\203\215\201[\203J\203\213 \203G\203\212\203A\220\332\221\261", kJapaneseDialUp},  // ローカル エリア接続
};
constexpr ConnectionNames kEthernetConnections[LANGUAGE_COUNT] = {
    {"Ethernet", kDialUp},
    {"\203C\201[\203T\203l\203b\203g", kJapaneseDialUp},  // イーサネット
};

constexpr PingStyle kPingBeforeXp = {true, 10, true, true, false};
constexpr PingStyle kPingXp = {true, 1, false, false, false};
constexpr PingStyle kPingModern = {false, 1, false, false, true};  // the replies right after the header

constexpr ArpStyle kArpBefore6 = {0, "0x2"};
constexpr ArpStyle kArpModern = {10, "0xb"};  // after the loopback and tunnel interfaces

constexpr NbtstatStyle kNbtstatBare = {"", kLocalAreaConnection};
constexpr NbtstatStyle kNbtstatIndented = {"    ", kLocalAreaConnection};
constexpr NbtstatStyle kNbtstatModern = {"    ", nullptr};

constexpr bool kConsoleLanguage = true;
constexpr bool kError6118 = true;

// In the order of WinFormat: 95, 98, NT 4.0, 2000, XP, 5.2, Vista and 7, 8 on, 10.0.
constexpr ReportStyle kStyles[] = {
    {kWinipcfg, &kWinipcfg95, nullptr, !kConsoleLanguage, nullptr, nullptr,
     kPingBeforeXp, kArpBefore6, !kError6118, kNbtstatBare},
    {kWinipcfg, &kWinipcfg98, nullptr, !kConsoleLanguage, nullptr, nullptr,
     kPingBeforeXp, kArpBefore6, !kError6118, kNbtstatBare},
    {kIpconfig, nullptr, &kIpconfigNt4, !kConsoleLanguage, nullptr, nullptr,
     kPingBeforeXp, kArpBefore6, !kError6118, kNbtstatBare},
    {kIpconfig, nullptr, &kIpconfig2000, !kConsoleLanguage, nullptr, nullptr,
     kPingBeforeXp, kArpBefore6, !kError6118, kNbtstatIndented},
    {kIpconfig, nullptr, &kIpconfigXp, !kConsoleLanguage, nullptr, nullptr,
     kPingXp, kArpBefore6, !kError6118, kNbtstatIndented},
    {kIpconfig, nullptr, &kIpconfig2003, !kConsoleLanguage, nullptr, nullptr,
     kPingXp, kArpBefore6, !kError6118, kNbtstatIndented},
    {kIpconfig, nullptr, nullptr, kConsoleLanguage, kColonsAt37, kVistaConnections,
     kPingModern, kArpModern, kError6118, kNbtstatModern},
    {kIpconfig, nullptr, nullptr, kConsoleLanguage, kColonsAt37, kEthernetConnections,
     kPingModern, kArpModern, kError6118, kNbtstatModern},
    {kIpconfig, nullptr, nullptr, kConsoleLanguage, kJapaneseColonsAt40, kEthernetConnections,
     kPingModern, kArpModern, kError6118, kNbtstatModern},
};
static_assert(sizeof kStyles / sizeof kStyles[0] == FORMAT_10 + 1, "one style per format");

}  // namespace

const ReportStyle& StyleOfFormat(WinFormat format) { return kStyles[format]; }

ReportLanguage LanguageOfReports(const ReportStyle& style, uint32_t code_page) {
    return style.ReportsInConsoleLanguage && code_page == CODE_PAGE_JAPANESE ? LANGUAGE_JAPANESE
                                                                            : LANGUAGE_ENGLISH;
}
