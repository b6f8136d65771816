#include "discovery/ping_report.h"

#include <cstdio>
#include <cstring>

#include "run/run_state.h"

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
    const size_t column = static_cast<size_t>(State.Markers.PingNameColumn);
    const char* start = line + (column <= line_length ? column : line_length);
    size_t length = std::strcspn(start, " \n");
    CopyFieldPart(name, size, start, length);
    return start + length;
}
