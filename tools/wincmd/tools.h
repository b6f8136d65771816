// The network tools of the simulated Windows machine. Each takes its arguments
// (without its own name) and the stream its report goes to, and uses nothing
// but the C and C++ standard libraries, so it builds on any system.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "network.h"

// The report formats of the simulated Windows versions, one ReportStyle each.
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

// Where ipconfig from version 6 on puts its colons, in bytes of the report's
// code page.
struct ColonLayout {
    size_t Column;       // the value starts two columns after it
    bool DotMeetsColon;  // ". . .:" rather than ". . . :"
};

// The connections that own adapters are named after from version 6 on.
struct ConnectionNames {
    const char* Lan;
    const char* DialUp;
};

struct PingStyle {
    bool BlankLineAfterHeader;
    int ResolutionMs;      // shorter round trips print as "<1ms" or "<10ms"
    bool PadsFigures;      // the maximum and average right-aligned in two places
    bool SaysUnknownHost;  // "Unknown host NAME." rather than the longer message
    bool SaysTransmitFailed;  // a request with no route: "PING: transmit failed..." (from 6 on)
};

struct ArpStyle {
    size_t TypeWidth;            // the type padded with blanks to it; 0: as it is
    const char* InterfaceIndex;  // after the interface's address
};

struct NbtstatStyle {
    const char* Indent;      // an indented report names the connection and the node first
    const char* Connection;  // that connection; null: the first connected adapter's
};

// How the tools of one report format print: everything besides their texts in
// which the reports of the versions differ. The tools read it, never the version.
struct ReportStyle {
    const char* AdapterTool;            // "winipcfg" (the 95 family) or "ipconfig"
    const WinipcfgText* Winipcfg;       // winipcfg's texts; null without winipcfg
    const IpconfigLayout* Ipconfig;     // before version 6; null: ipconfig_modern.cpp's report
    bool ReportsInConsoleLanguage;      // English or Japanese by the code page; else English
    const ColonLayout* IpconfigColons;  // from version 6 on, one per language
    const ConnectionNames* Connections; // from version 6 on, one per language
    PingStyle Ping;
    ArpStyle Arp;
    bool EmptyBrowseListFails;          // net view: error 6118 rather than an empty list
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

struct ToolContext;

// What ping was asked, once its options are read; the tool's own defaults.
struct PingRequest {
    bool ResolveName = false;        // -a
    unsigned long Count = 4;         // -n
    unsigned long TimeoutMs = 4000;  // -w
    bool TimeoutGiven = false;
    std::string Target;
};

// The tools that answer from the machine itself (QARVIK_NETWORK=live) rather
// than from the simulated network.
struct LiveTools {
    // Whether the machine lets ping open an ICMP socket; false after one line
    // on the error stream naming the cause and the remedy. The adapter tools
    // ask first, so a run that could not ping finds no own address.
    bool (*CanPing)(const ToolContext& context, const char* tool);
    int (*Ping)(const ToolContext& context, const PingRequest& request, FILE* out);
    // address null: the whole table
    int (*Arp)(const ToolContext& context, const uint32_t* address, FILE* out);
    // nbtstat -a name
    int (*Nbtstat)(const ToolContext& context, const std::string& name, FILE* out);
    // net view's computers; false after one line on the error stream
    bool (*BrowseList)(const ToolContext& context, std::vector<BrowseEntry>* browse);
};

struct ToolContext {
    const ReportStyle* Style;  // null for the interpreter's own commands
    const Network* Net;
    FILE* Errors;
    ReportLanguage Language = LANGUAGE_ENGLISH;  // as LanguageOfReports gives it
    const LiveTools* Live = nullptr;  // set: ping and arp answer from the machine
};

using Arguments = std::vector<std::string>;

int RunIpconfig(const ToolContext& context, const Arguments& args, FILE* out);
// ipconfig's report from version 6 on, with /all or without.
int PutModernIpconfig(const ToolContext& context, bool all, FILE* out);
int RunWinipcfg(const ToolContext& context, const Arguments& args, FILE* out);
int RunPing(const ToolContext& context, const Arguments& args, FILE* out);
int RunArp(const ToolContext& context, const Arguments& args, FILE* out);
int RunNet(const ToolContext& context, const Arguments& args, FILE* out);
int RunNbtstat(const ToolContext& context, const Arguments& args, FILE* out);

// One echo request of ping, as its report shows it (and as the live machine's
// echo socket answers it).
struct EchoOutcome {
    bool Replied;
    double TimeMs;  // the round trip of a reply
    int Ttl;        // negative: unknown, and the reply line ends after the time
};

// The counts and round trips that ping's statistics show.
struct PingTally {
    unsigned long long Sent = 0;
    unsigned long long Received = 0;
    double MinimumMs = 0;
    double MaximumMs = 0;
    double TotalMs = 0;
};

// The lines of a ping report, whatever answers the requests.
std::string PingHeaderLine(const ToolContext& context, const std::string& name,
                           const std::string& address);  // no name: the address alone
std::string PingReplyLine(const ToolContext& context, const std::string& address,
                          const EchoOutcome& outcome);
std::string PingTimeoutLine(const ToolContext& context);
// What stands for a request that could not go out for want of a route.
std::string PingTransmitFailedLine(const ToolContext& context);
// The empty line and the header line that start a report, and the empty line
// after them where the style has one.
void PutPingHeader(FILE* out, const ToolContext& context, const std::string& name,
                   const std::string& address);
void CountEcho(PingTally* tally, const EchoOutcome& outcome);
void PutPingStatistics(FILE* out, const ToolContext& context, const std::string& address,
                       const PingTally& tally);

// The state of a name in an nbtstat name table.
enum NameStatus {
    NAME_STATUS_REGISTERED,
    NAME_STATUS_CONFLICT,
    NAME_STATUS_DEREGISTERED,
};
constexpr size_t NAME_STATUS_COUNT = 3;

struct NameTableRow {
    std::string Name;  // without the blanks that pad it to 15 characters
    unsigned char Suffix;
    bool Group;
    NameStatus Status;
};

// What nbtstat -a reports of a computer: its names and the value of its MAC
// Address line.
struct NameTable {
    std::vector<NameTableRow> Rows;
    std::string Mac;
};

// nbtstat -a's report of a computer's name table, or "Host not found." when
// table is null. Returns the tool's exit status.
int PutNbtstatReport(FILE* out, const ToolContext& context, const NameTable* table);

// One row of arp's table.
struct ArpRow {
    uint32_t Address;
    std::string Mac;  // as the simulated network or the kernel gives it
    bool Static;
};

// arp's report of rows found for the interface with the given own address; no
// rows (or no interface address) print the "No ARP Entries Found" report.
// Returns the tool's exit status.
int PutArpReport(FILE* out, const ToolContext& context, uint32_t interface_address,
                 const std::vector<ArpRow>& rows);

// Writes text and a Windows line end. The tools' reports are byte strings that
// may hold any byte, so nothing stops at a NUL.
void PutLine(FILE* out, const std::string& text);

// An "  Label . . . . : value" line whose value starts exactly at column (a
// byte offset): dot leaders fill the room between label and colon.
std::string FieldLine(int indent, const std::string& label, int column, const std::string& value);

// The same from the line's start (indentation and label, in bytes), with the
// colon at colon_column. The leader's dots stand on columns of one parity, so
// the leaders of all lines line up: ". . . :" with a blank before the colon,
// or ". . . .:" when dot_meets_colon.
std::string LeaderLine(const std::string& start, size_t colon_column, bool dot_meets_colon,
                       const std::string& value);

// The name of an own adapter's connection from version 6 on ("Ethernet 2"),
// numbered by its place among the machine's adapters.
std::string ConnectionName(const ToolContext& context, size_t index, AdapterKind kind);

// The classful mask of an address (0.0.0.0 for a disconnected adapter): the
// simulated network knows no other.
std::string ClassfulMask(uint32_t address);

// text padded with blanks to width bytes; always at least one blank follows.
std::string PadRight(const std::string& text, size_t width);
