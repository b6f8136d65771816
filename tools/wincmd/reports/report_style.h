// The report formats of the simulated Windows versions: one ReportStyle row
// per format, which the tools read wherever the reports of the versions
// differ. The tools read the style, never the version.
#pragma once

#include <cstddef>
#include <cstdint>

enum WinFormat {
    FORMAT_95,
    FORMAT_98,
    FORMAT_NT4,
    FORMAT_2000,
    FORMAT_XP,
    FORMAT_2003,  // version 5.2: the XP tools, with ipconfig's labels indented less
    // From version 6 on the tools print English or Japanese, by the console's
    // code page, and adapters are named after their connection.
    FORMAT_VISTA,  // 6.0 and 6.1: "Local Area Connection" adapters
    FORMAT_8,      // 6.2, 6.3 and other versions from 6 on but 10.0: "Ethernet" adapters
    FORMAT_10,     // 10.0: the Japanese ipconfig puts its values three columns further
};

// The format of a version as the tools of that version print it; versions
// below 6 without a format of their own print like XP.
WinFormat FormatOfVersion(uint32_t major, uint32_t minor, uint32_t build);

enum ReportLanguage {
    LANGUAGE_ENGLISH,
    LANGUAGE_JAPANESE,  // code page 932 texts
};
constexpr size_t LANGUAGE_COUNT = 2;

struct WinipcfgText;    // winipcfg.cpp: the texts and columns of one version
struct IpconfigLayout;  // ipconfig.cpp: one layout of the versions below 6

// Every yes-or-no of a style row is an enum of its own, named for what it
// says, so that a row reads what each value is and no value can slip into the
// place of another.

// How the dot leader before ipconfig's colon ends.
enum ColonLeader {
    BLANK_BEFORE_COLON,  // ". . . :"
    DOT_MEETS_COLON,     // ". . . .:"
};

// Where ipconfig from version 6 on puts its colons, in bytes of the report's
// code page.
struct ColonLayout {
    size_t Column;  // the value starts two columns after it
    ColonLeader Leader;
};

// The connections that own adapters are named after from version 6 on.
struct ConnectionNames {
    const char* Lan;
    const char* DialUp;
};

enum HeaderSpacing {
    REPLIES_RIGHT_AFTER_HEADER,
    BLANK_LINE_AFTER_HEADER,
};

enum FigureAlignment {
    FIGURES_AS_THEY_ARE,
    FIGURES_IN_TWO_PLACES,  // the maximum and average right-aligned in two places
};

enum UnknownHostMessage {
    COULD_NOT_FIND_HOST,  // "Ping request could not find host NAME. Please check ..."
    UNKNOWN_HOST,         // "Unknown host NAME."
};

// What a request with no route prints.
enum NoRouteMessage {
    DESTINATION_HOST_UNREACHABLE,  // "Destination host unreachable."
    TRANSMIT_FAILED,               // "PING: transmit failed. General failure." (from 6 on)
};

struct PingStyle {
    HeaderSpacing Header;
    int ResolutionMs;  // shorter round trips print as "<1ms" or "<10ms"
    FigureAlignment Figures;
    UnknownHostMessage UnknownHost;
    NoRouteMessage NoRoute;
};

struct ArpStyle {
    size_t TypeWidth;            // the type padded with blanks to it; 0: as it is
    const char* InterfaceIndex;  // after the interface's address
};

struct NbtstatStyle {
    const char* Indent;      // an indented report names the connection and the node first
    const char* Connection;  // that connection; null: the first connected adapter's
};

enum LanguageChoice {
    REPORTS_IN_ENGLISH,           // also on Japanese systems
    REPORTS_IN_CONSOLE_LANGUAGE,  // English or Japanese by the console's code page
};

// What net view says of an empty browse list.
enum EmptyBrowseList {
    EMPTY_LIST_REPORTED,   // "There are no entries in the list."
    EMPTY_LIST_ERROR_6118,
};

// How the tools of one report format print: everything besides their texts in
// which the reports of the versions differ.
struct ReportStyle {
    const char* AdapterTool;            // "winipcfg" (the 95 family) or "ipconfig"
    const WinipcfgText* Winipcfg;       // winipcfg's texts; null without winipcfg
    const IpconfigLayout* Ipconfig;     // before version 6; null: ipconfig_modern.cpp's report
    LanguageChoice Language;
    const ColonLayout* IpconfigColons;  // from version 6 on, one per language
    const ConnectionNames* Connections; // from version 6 on, one per language
    PingStyle Ping;
    ArpStyle Arp;
    EmptyBrowseList EmptyBrowse;
    NbtstatStyle Nbtstat;
};

const ReportStyle& StyleOfFormat(WinFormat format);

// The language of a style's reports on a console of the given code page:
// Japanese where the tools follow the console and the code page is 932, else
// English (earlier versions printed their English texts on Japanese systems too).
ReportLanguage LanguageOfReports(const ReportStyle& style, uint32_t code_page);

// The layouts and texts the styles name.
extern const IpconfigLayout kIpconfigNt4;
extern const IpconfigLayout kIpconfig2000;
extern const IpconfigLayout kIpconfigXp;
extern const IpconfigLayout kIpconfig2003;
extern const WinipcfgText kWinipcfg95;
extern const WinipcfgText kWinipcfg98;
