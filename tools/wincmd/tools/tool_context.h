// The network tools of the stand-in Windows machine and what each is given:
// its arguments (without its own name), the report style of the version, the
// machine it reports on, and the streams its report and its errors go to.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "machine/machine.h"
#include "reports/report_style.h"

struct ToolContext {
    const ReportStyle* Style;  // null for the interpreter's own commands
    Machine* Host;             // the machine the tool reports on; null likewise
    FILE* Errors;
    ReportLanguage Language = LANGUAGE_ENGLISH;  // as LanguageOfReports gives it
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

// A failure of the machine, as the tool reports it: one line on the error
// stream, "wincmd: TOOL: REASON".
void PutMachineFailure(const ToolContext& context, const char* tool, const std::string& error);

// The adapter tools' check that ping can work here; false after the failure
// is reported.
bool CanPingHere(const ToolContext& context, const char* tool);
