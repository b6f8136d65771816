#include "report/response_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/text_file.h"
#include "state/run_state.h"
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

// The message on the console, and the system's reason (error_number, when
// not 0) on standard error after it.
void Fail(const char* message, int error_number) {
    ConsoleEcho(message, State.Settings.ResFile);
    if (error_number != 0) NoteSystemError(error_number);
    PlatformSayReason(State.Settings.ResFile);
    State.ExitStatus = EXIT_FILE_ERROR;
}

// errno after a failed write; a stream whose error came earlier may have
// lost it since.
int WriteError() { return errno != 0 ? errno : EIO; }

// A device or a pipe: opened, emptied where that means anything, and written.
void WriteInPlace(const char* path) {
    FILE* file = OpenTextForWrite(path);
    if (file == nullptr) {
        Fail(MSG_OUTPUT_OPEN_ERROR, errno);
        return;
    }
    // Buffered lines may fail only when they reach the disk (a full disk), so
    // the flush and the close count as writes too.
    errno = 0;
    if (!WriteRows(file) || std::fflush(file) != 0) {
        Fail(MSG_OUTPUT_WRITE_ERROR, WriteError());
        std::fclose(file);
        return;
    }
    if (std::fclose(file) != 0) Fail(MSG_OUTPUT_WRITE_ERROR, WriteError());
}

// The bytes of a regular file, read whole; Read is false when they cannot be.
struct OldBytes {
    char* Bytes;
    size_t Size;
    bool Read;
};

OldBytes ReadOldBytes(const char* path) {
    OldBytes old{nullptr, 0, false};
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return old;
    size_t capacity = 0;
    for (;;) {
        if (old.Size == capacity) {
            capacity = capacity == 0 ? 65536 : capacity * 2;
            char* grown = static_cast<char*>(std::realloc(old.Bytes, capacity));
            if (grown == nullptr) break;
            old.Bytes = grown;
        }
        size_t count = std::fread(old.Bytes + old.Size, 1, capacity - old.Size, file);
        old.Size += count;
        if (count == 0) {
            old.Read = std::ferror(file) == 0;
            break;
        }
    }
    std::fclose(file);
    return old;
}

// Writes the old bytes back where the new ones failed: emptying the file gave
// back the blocks they took, so a full disk has room for them again.
bool PutBack(const char* path, const OldBytes& old) {
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    bool written = old.Size == 0 || std::fwrite(old.Bytes, 1, old.Size, file) == old.Size;
    return PlatformCloseToDisk(file) && written;
}

// A regular file in a folder that takes no new file: written where it is, its
// old bytes kept in memory and put back when the new ones cannot be written
// whole; the console says so when even that fails.
void RewriteKeepingOldBytes(const char* path) {
    OldBytes old = ReadOldBytes(path);
    if (!old.Read) {
        std::free(old.Bytes);
        WriteInPlace(path);
        return;
    }
    FILE* file = OpenTextForWrite(path);
    if (file == nullptr) {
        Fail(MSG_OUTPUT_OPEN_ERROR, errno);
    } else {
        errno = 0;
        bool written = WriteRows(file);
        int error = WriteError();
        if (!PlatformCloseToDisk(file) || !written) {
            Fail(MSG_OUTPUT_WRITE_ERROR, written ? WriteError() : error);
            if (!PutBack(path, old)) {
                ConsoleEcho(MSG_OUTPUT_NOT_PUT_BACK, path);
                PlatformSayReason(path);
            }
        }
    }
    std::free(old.Bytes);
}

// The rows go into a new file beside target, which takes target's place only
// once all of it is on the disk; on any failure it goes and target stays as
// it was, or the console says where the old file is.
void ReplaceWithNewFile(const char* target) {
    char new_path[kNewPathSize];
    FILE* file = PlatformCreateReplacement(target, new_path, sizeof new_path);
    if (file == nullptr) {
        Fail(MSG_OUTPUT_OPEN_ERROR, 0);
        return;
    }
    errno = 0;
    bool written = WriteRows(file);
    int error = WriteError();
    if (!PlatformCloseToDisk(file) || !written) {
        if (written) error = WriteError();
        PlatformDiscardReplacement(new_path);
        Fail(MSG_OUTPUT_WRITE_ERROR, error);
        return;
    }
    char stranded[kNewPathSize];
    if (PlatformReplaceFile(new_path, target, stranded, sizeof stranded)) return;
    Fail(MSG_OUTPUT_WRITE_ERROR, 0);
    if (stranded[0] != '\0') ConsoleEcho(MSG_OLD_FILE_STRANDED, stranded);
}

}  // namespace

void CheckResponseFile() {
    if (PlatformCanWriteFile(State.Settings.ResFile)) return;
    ConsoleEcho(MSG_OUTPUT_OPEN_ERROR, State.Settings.ResFile);
    PlatformSayReason(State.Settings.ResFile);
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
    switch (PlatformResponseFileKind(path, target, sizeof target)) {
        case RESPONSE_FILE_IN_PLACE:
            WriteInPlace(path);
            break;
        case RESPONSE_FILE_REWRITTEN:
            RewriteKeepingOldBytes(path);
            break;
        case RESPONSE_FILE_REPLACED:
            ReplaceWithNewFile(target);
            break;
    }
    // Rows after a stage's error are not the whole inventory.
    if (State.StageFailed && State.ExitStatus == 0) {
        ConsoleEcho(MSG_PARTIAL_INVENTORY, path);
        State.ExitStatus = EXIT_NO_INVENTORY;
    }
}
