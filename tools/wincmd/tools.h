// The network tools of the simulated Windows machine. Each takes its arguments
// (without its own name) and the stream its report goes to, and uses nothing
// but the C and C++ standard libraries, so it builds on any system.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "network.h"

// The report formats of the simulated Windows versions.
enum WinFormat {
    FORMAT_95,
    FORMAT_98,
    FORMAT_NT4,
    FORMAT_2000,
    FORMAT_XP,
    FORMAT_2003,  // version 5.2: the XP tools, with ipconfig's labels indented less
};

// The format of a version as the tools of that version print it; versions
// after 5.2 print like XP.
WinFormat FormatOfVersion(uint32_t major, uint32_t minor, uint32_t build);

// Whether a format belongs to the Windows 95 family (winipcfg, no ipconfig).
bool IsWin95Family(WinFormat format);

// Whether ping and nbtstat print as on XP (XP and 5.2).
bool PrintsLikeXp(WinFormat format);

struct ToolContext;

// What ping was asked, once its options are read.
struct PingRequest {
    bool ResolveName;  // -a
    unsigned long Count;
    unsigned long TimeoutMs;
    std::string Target;
};

// The tools that answer from the machine itself (QARVIK_NETWORK=live) rather
// than from the simulated network.
struct LiveTools {
    int (*Ping)(const ToolContext& context, const PingRequest& request, FILE* out);
    // address null: the whole table
    int (*Arp)(const ToolContext& context, const uint32_t* address, FILE* out);
};

struct ToolContext {
    WinFormat Format;
    const Network* Net;
    FILE* Errors;
    const LiveTools* Live = nullptr;  // set: ping and arp answer from the machine
};

using Arguments = std::vector<std::string>;

int RunIpconfig(const ToolContext& context, const Arguments& args, FILE* out);
int RunWinipcfg(const ToolContext& context, const Arguments& args, FILE* out);
int RunPing(const ToolContext& context, const Arguments& args, FILE* out);
int RunArp(const ToolContext& context, const Arguments& args, FILE* out);
int RunNet(const ToolContext& context, const Arguments& args, FILE* out);
int RunNbtstat(const ToolContext& context, const Arguments& args, FILE* out);

// One echo request of ping, as its report shows it.
struct EchoOutcome {
    bool Replied;
    double TimeMs;  // the round trip of a reply
    int Ttl;
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
void CountEcho(PingTally* tally, const EchoOutcome& outcome);
void PutPingStatistics(FILE* out, const ToolContext& context, const std::string& address,
                       const PingTally& tally);

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

// The classful mask of an address (0.0.0.0 for a disconnected adapter): the
// simulated network knows no other.
std::string ClassfulMask(uint32_t address);

// text padded with blanks to width bytes; always at least one blank follows.
std::string PadRight(const std::string& text, size_t width);
