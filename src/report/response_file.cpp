#include "report/response_file.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/text_file.h"
#include "run/run_state.h"
#include "text/messages.h"

namespace {

constexpr size_t kLineSize = 1024;
// The file a response path names once its links are followed, and the new
// file beside it: a name longer than the response path itself.
constexpr size_t kTargetPathSize = 4096;
constexpr size_t kNewPathSize = kTargetPathSize + 32;

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

void Fail(const char* message) {
    ConsoleEcho(message, State.Settings.ResFile);
    State.ExitStatus = EXIT_FILE_ERROR;
}

// A device or a pipe: opened, emptied where that means anything, and written.
void WriteInPlace(const char* path) {
    FILE* file = OpenTextForWrite(path);
    if (file == nullptr) {
        Fail(MSG_OUTPUT_OPEN_ERROR);
        return;
    }
    // Buffered lines may fail only when they reach the disk (a full disk), so
    // the flush and the close count as writes too.
    if (!WriteRows(file) || std::fflush(file) != 0) {
        Fail(MSG_OUTPUT_WRITE_ERROR);
        std::fclose(file);
        return;
    }
    if (std::fclose(file) != 0) Fail(MSG_OUTPUT_WRITE_ERROR);
}

// The rows go into a new file beside target, which takes target's place only
// once all of it is on the disk; on any failure it goes and target stays as
// it was.
void ReplaceWithNewFile(const char* target) {
    char new_path[kNewPathSize];
    FILE* file = PlatformCreateReplacement(target, new_path, sizeof new_path);
    if (file == nullptr) {
        Fail(MSG_OUTPUT_OPEN_ERROR);
        return;
    }
    bool written = WriteRows(file);
    if (!PlatformCloseToDisk(file) || !written) {
        PlatformDiscardReplacement(new_path);
        Fail(MSG_OUTPUT_WRITE_ERROR);
        return;
    }
    if (!PlatformReplaceFile(new_path, target)) Fail(MSG_OUTPUT_WRITE_ERROR);
}

}  // namespace

void CheckResponseFile() {
    if (PlatformCanWriteFile(State.Settings.ResFile)) return;
    ConsoleEcho(MSG_OUTPUT_OPEN_ERROR, State.Settings.ResFile);
    PlatformExit(EXIT_FILE_ERROR);
}

void WriteResponseFile() {
    const char* path = State.Settings.ResFile;
    // The stage's error is on the console already; an empty file in place of
    // the last good inventory would only hide it.
    if (State.StageFailed && TableRowCount() == 0) {
        ConsoleEcho(MSG_NO_INVENTORY, path);
        State.ExitStatus = EXIT_NO_INVENTORY;
        return;
    }
    char target[kTargetPathSize];
    if (PlatformResponseFileKind(path, target, sizeof target) == RESPONSE_FILE_IN_PLACE) {
        WriteInPlace(path);
        return;
    }
    ReplaceWithNewFile(target);
}
