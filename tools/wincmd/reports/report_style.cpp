#include "reports/report_style.h"

#include "contract/windows_version.h"

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
constexpr ColonLayout kColonsAt37[LANGUAGE_COUNT] = {{37, BLANK_BEFORE_COLON},
                                                     {37, BLANK_BEFORE_COLON}};
constexpr ColonLayout kJapaneseColonsAt40[LANGUAGE_COUNT] = {{37, BLANK_BEFORE_COLON},
                                                             {40, DOT_MEETS_COLON}};

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

constexpr PingStyle kPingBeforeXp = {BLANK_LINE_AFTER_HEADER, 10, FIGURES_IN_TWO_PLACES, UNKNOWN_HOST,
                                     DESTINATION_HOST_UNREACHABLE};
constexpr PingStyle kPingXp = {BLANK_LINE_AFTER_HEADER, 1, FIGURES_AS_THEY_ARE, COULD_NOT_FIND_HOST,
                               DESTINATION_HOST_UNREACHABLE};
constexpr PingStyle kPingModern = {REPLIES_RIGHT_AFTER_HEADER, 1, FIGURES_AS_THEY_ARE,
                                   COULD_NOT_FIND_HOST, TRANSMIT_FAILED};

constexpr ArpStyle kArpBefore6 = {0, "0x2"};
constexpr ArpStyle kArpModern = {10, "0xb"};  // after the loopback and tunnel interfaces

constexpr NbtstatStyle kNbtstatBare = {"", kLocalAreaConnection};
constexpr NbtstatStyle kNbtstatIndented = {"    ", kLocalAreaConnection};
constexpr NbtstatStyle kNbtstatModern = {"    ", nullptr};

// In the order of WinFormat. The columns: adapter tool, winipcfg's texts,
// ipconfig's layout, language, ipconfig's colons and connection names from
// version 6 on, ping, arp, net view's empty list, nbtstat.
constexpr ReportStyle kStyles[] = {
    {kWinipcfg, &kWinipcfg95, nullptr, REPORTS_IN_ENGLISH, nullptr, nullptr,  // 95
     kPingBeforeXp, kArpBefore6, EMPTY_LIST_REPORTED, kNbtstatBare},
    {kWinipcfg, &kWinipcfg98, nullptr, REPORTS_IN_ENGLISH, nullptr, nullptr,  // 98
     kPingBeforeXp, kArpBefore6, EMPTY_LIST_REPORTED, kNbtstatBare},
    {kIpconfig, nullptr, &kIpconfigNt4, REPORTS_IN_ENGLISH, nullptr, nullptr,  // NT 4.0
     kPingBeforeXp, kArpBefore6, EMPTY_LIST_REPORTED, kNbtstatBare},
    {kIpconfig, nullptr, &kIpconfig2000, REPORTS_IN_ENGLISH, nullptr, nullptr,  // 2000
     kPingBeforeXp, kArpBefore6, EMPTY_LIST_REPORTED, kNbtstatIndented},
    {kIpconfig, nullptr, &kIpconfigXp, REPORTS_IN_ENGLISH, nullptr, nullptr,  // XP
     kPingXp, kArpBefore6, EMPTY_LIST_REPORTED, kNbtstatIndented},
    {kIpconfig, nullptr, &kIpconfig2003, REPORTS_IN_ENGLISH, nullptr, nullptr,  // 5.2
     kPingXp, kArpBefore6, EMPTY_LIST_REPORTED, kNbtstatIndented},
    {kIpconfig, nullptr, nullptr, REPORTS_IN_CONSOLE_LANGUAGE, kColonsAt37, kVistaConnections,
     kPingModern, kArpModern, EMPTY_LIST_ERROR_6118, kNbtstatModern},  // Vista and 7
    {kIpconfig, nullptr, nullptr, REPORTS_IN_CONSOLE_LANGUAGE, kColonsAt37, kEthernetConnections,
     kPingModern, kArpModern, EMPTY_LIST_ERROR_6118, kNbtstatModern},  // 8 on
    {kIpconfig, nullptr, nullptr, REPORTS_IN_CONSOLE_LANGUAGE, kJapaneseColonsAt40,
     kEthernetConnections, kPingModern, kArpModern, EMPTY_LIST_ERROR_6118, kNbtstatModern},  // 10.0
};
static_assert(sizeof kStyles / sizeof kStyles[0] == FORMAT_10 + 1, "one style per format");

}  // namespace

const ReportStyle& StyleOfFormat(WinFormat format) { return kStyles[format]; }

ReportLanguage LanguageOfReports(const ReportStyle& style, uint32_t code_page) {
    return style.Language == REPORTS_IN_CONSOLE_LANGUAGE && code_page == CODE_PAGE_JAPANESE
               ? LANGUAGE_JAPANESE
               : LANGUAGE_ENGLISH;
}
