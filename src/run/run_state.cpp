#include "run/run_state.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

RunState State;

namespace {
// The columns at which Windows NT 4.0 prints its values; other platforms
// overwrite them when the adapter report is captured.
constexpr ReportColumns kInitialColumns = {31, 31, 14};
}  // namespace

void ResetRunState() {
    std::memset(&State, 0, sizeof State);
    State.Columns = kInitialColumns;
}

int32_t TableRowCount() {
    if (State.HostCount < 0) return 0;
    return State.HostCount < HOST_TABLE_ROWS ? State.HostCount : HOST_TABLE_ROWS;
}

void PrepareWorkFiles() {
    char directory[TEMP_DIR_SIZE];
    PlatformGetTempDirectory(directory, sizeof directory);
    for (int k = 0; k < WORK_FILE_COUNT; ++k) {
        std::snprintf(State.Files.Path[k], WORK_PATH_SIZE, "%stmp%02d.txt", directory, k);
    }
}

void CopyFieldPart(char* field, size_t size, const char* text, size_t length) {
    size_t copied = 0;
    while (copied + 1 < size && copied < length && text[copied] != '\0') {
        field[copied] = text[copied];
        ++copied;
    }
    field[copied] = '\0';
}

void CopyField(char* field, size_t size, const char* text) {
    CopyFieldPart(field, size, text, size);
}
