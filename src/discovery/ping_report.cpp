#include "discovery/ping_report.h"

#include <cstdio>
#include <cstring>

#include "run/run_state.h"

namespace {
constexpr size_t kNameColumn = sizeof "Pinging";  // just after "Pinging" and its blank
}

void StartResolvingPing(CommandLine* command, const char* address) {
    CommandStart(command, "ping -a -n 1 ");
    if (State.Settings.PingWait != 0) {
        char wait[24];
        std::snprintf(wait, sizeof wait, "-w %d ", static_cast<int>(State.Settings.PingWait));
        CommandAppend(command, wait);
    }
    CommandAppend(command, address);
}

const char* CutPingingName(const char* line, char* name, size_t size) {
    size_t line_length = std::strlen(line);
    const char* start = line + (kNameColumn <= line_length ? kNameColumn : line_length);
    size_t length = std::strcspn(start, " \n");
    CopyFieldPart(name, size, start, length);
    return start + length;
}
