#include "state/run_state.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "text/messages.h"

RunState State;

namespace {
// The columns at which Windows NT 4.0 prints its values; other platforms
// overwrite them when the adapter report is captured.
constexpr ReportColumns kInitialColumns = {31, 31, 14};
}  // namespace

const ReportMarkers ENGLISH_MARKERS = {MARKER_PINGING, PING_NAME_COLUMN, MARKER_DYNAMIC,
                                       MARKER_NBT_MAC, "", ""};

void ResetRunState() {
    std::memset(&State, 0, sizeof State);
    State.Columns = kInitialColumns;
    State.Markers = ENGLISH_MARKERS;
    ForgetLostWorkFile();
}

int32_t TableRowCount() {
    if (State.HostCount < 0) return 0;
    return State.HostCount < HOST_TABLE_ROWS ? State.HostCount : HOST_TABLE_ROWS;
}

namespace {

// No quoting makes a double quote or a control character safe in a command
// line of the interpreter.
bool CommandLinesCanCarry(const char* directory) {
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(directory); *c != '\0';
         ++c) {
        if (*c == '"' || *c < 0x20 || *c == 0x7F) return false;
    }
    return true;
}

// Ends the run with the directory's message, before any work file is made.
[[noreturn]] void RefuseTempDirectory(const char* message, const char* directory) {
    ConsoleEcho(message, directory);
    PlatformExit(EXIT_FILE_ERROR);
}

}  // namespace

void PrepareWorkFiles() {
    char directory[TEMP_DIR_QUERY_SIZE];
    PlatformGetTempDirectory(directory, sizeof directory);
    if (std::strlen(directory) > TEMP_DIR_MAX_LENGTH) {
        char message[256];
        std::snprintf(message, sizeof message, MSG_TEMP_DIRECTORY_TOO_LONG,
                      static_cast<int>(TEMP_DIR_MAX_LENGTH));
        RefuseTempDirectory(message, directory);
    }
    if (!CommandLinesCanCarry(directory)) {
        RefuseTempDirectory(MSG_TEMP_DIRECTORY_REFUSED, directory);
    }
    WorkFiles& files = State.Files;
    if (!PlatformMakeWorkFolder(directory, files.Folder, sizeof files.Folder)) {
        ConsoleEcho(MSG_WORK_FOLDER_ERROR, directory);
        PlatformSayReason(directory);
        PlatformExit(EXIT_FILE_ERROR);
    }
    PlatformRemoveAbandonedWorkFolders(directory);
    for (int k = 0; k < WORK_FILE_COUNT; ++k) {
        std::snprintf(files.Path[k], WORK_PATH_SIZE, "%stmp%02d.txt", files.Folder, k);
        PlatformWatchWorkFile(files.Path[k]);
    }
}

void RemoveWorkFolder() { PlatformRemoveWorkFolder(); }

namespace {

// The tool a command line runs: its first word.
void ToolOf(const char* command_line, char* tool, size_t size) {
    size_t length = std::strcspn(command_line, " ");
    std::snprintf(tool, size, "%.*s", static_cast<int>(length), command_line);
}

}  // namespace

// A lost command is named with its line, and its reason with its tool.
void EndRunIfWorkFileLost() {
    const char* reason = PlatformLostWorkFileReason();
    if (reason == nullptr) return;
    // Its own line, not run on from the progress marks.
    if (State.ProgressLineOpen) ConsolePrint("%s", MSG_LINE_END);
    State.ProgressLineOpen = false;
    const char* command = PlatformLostCommand();
    char subject[sizeof State.Files.Folder];
    if (command != nullptr) {
        ConsoleEcho(MSG_COMMAND_LOST, command);
        ToolOf(command, subject, sizeof subject);
    } else {
        ConsoleEcho(MSG_WORK_FILE_LOST, State.Files.Folder);
        std::snprintf(subject, sizeof subject, "%s", State.Files.Folder);
    }
    NoteSystemReason(reason);
    PlatformSayReason(subject);
    RemoveWorkFolder();
    PlatformExit(EXIT_NO_INVENTORY);
}

void ReportStageError(const char* message) {
    ConsolePrint("%s", message);
    State.StageFailed = true;
}

const char* ReportLineValue(const char* line, const char* value_mark, int32_t column) {
    const size_t length = std::strlen(line);
    if (value_mark[0] == '\0') {
        return column < 0 || static_cast<size_t>(column) > length ? line + length : line + column;
    }
    const char* mark = std::strstr(line, value_mark);
    if (mark == nullptr) return line + std::strcspn(line, "\n");
    const size_t mark_length = std::strlen(value_mark);
    const char* value = mark + mark_length;
    return value_mark[mark_length - 1] != ' ' && value[0] == ' ' ? value + 1 : value;
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
