#include "discovery/ping_report.h"

#include <cstdio>
#include <cstring>

#include "state/run_state.h"

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

bool IsDottedDecimal(const char* text, size_t length) {
    if (length == 0 || length > ADDRESS_SIZE - 1) return false;
    for (size_t i = 0; i < length; ++i) {
        if ((text[i] < '0' || text[i] > '9') && text[i] != '.') return false;
    }
    return true;
}

bool CutPingingAddress(const char* line, char address[ADDRESS_SIZE]) {
    char name[NAME_SIZE];
    const char* name_end = CutPingingName(line, name, sizeof name);
    const char* start = name_end + std::strspn(name_end, " ");
    size_t length = 0;
    if (*start == '[') {
        const char* close = std::strchr(++start, ']');
        if (close == nullptr) return false;
        length = static_cast<size_t>(close - start);
    } else {
        start = name;
        length = std::strlen(name);
    }
    if (!IsDottedDecimal(start, length)) return false;
    CopyFieldPart(address, ADDRESS_SIZE, start, length);
    return true;
}

bool ReadDottedQuad(const char* text, uint32_t* value) {
    int part[4];
    if (std::sscanf(text, "%d.%d.%d.%d", &part[0], &part[1], &part[2], &part[3]) != 4) {
        return false;
    }
    *value = 0;
    for (int p : part) *value = (*value << 8) | (static_cast<uint32_t>(p) & 0xFFu);
    return true;
}
