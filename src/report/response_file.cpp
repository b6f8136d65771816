#include "report/response_file.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/text_file.h"
#include "run/run_state.h"
#include "text/messages.h"

namespace {

constexpr size_t kLineSize = 1024;

// One row as its line: name,IP,MAC in TCP/IP mode, name,MAC in NetBEUI mode,
// where rows carry no address.
void FormatRow(const HostRecord& row, char line[kLineSize]) {
    std::memset(line, 0, kLineSize);
    if (State.Settings.Class == CLASS_NETBEUI) {
        std::snprintf(line, kLineSize, "%s,%s\n", row.Name, row.Mac);
    } else {
        std::snprintf(line, kLineSize, "%s,%s,%s\n", row.Name, row.Ip, row.Mac);
    }
}

// False as soon as a line cannot be written.
bool WriteRows(FILE* file) {
    char line[kLineSize];
    const int32_t rows = TableRowCount();
    for (int32_t i = 0; i < rows; ++i) {
        FormatRow(State.HostTable[i], line);
        if (!WriteText(file, line)) return false;
    }
    return true;
}

}  // namespace

void WriteResponseFile() {
    const char* path = State.Settings.ResFile;
    FILE* file = OpenTextForWrite(path);
    if (file == nullptr) {
        ConsolePrint(MSG_OUTPUT_OPEN_ERROR, path);
        State.ExitStatus = EXIT_FILE_ERROR;
        return;
    }
    // Buffered lines may fail only when they reach the disk (a full disk), so
    // the flush and the close count as writes too.
    if (!WriteRows(file) || std::fflush(file) != 0) {
        ConsolePrint(MSG_OUTPUT_WRITE_ERROR, path);
        State.ExitStatus = EXIT_FILE_ERROR;
        std::fclose(file);
        return;
    }
    if (std::fclose(file) != 0) {
        ConsolePrint(MSG_OUTPUT_WRITE_ERROR, path);
        State.ExitStatus = EXIT_FILE_ERROR;
    }
}
