#include "exec/command_runner.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/text_file.h"
#include "text/messages.h"

namespace {

constexpr int kOpenAttempts = 100;
constexpr int kOpenRetryWaitMs = 300;
constexpr int kFilterPieceSize = 256;

using OpenFunction = FILE* (*)(const char* path);

// Tries to open a file the tools may still be writing: every failure is
// followed by a wait, and after the last one the path is reported.
FILE* OpenWithRetries(OpenFunction open, const char* path) {
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        FILE* file = open(path);
        if (file != nullptr) return file;
        PlatformWait(kOpenRetryWaitMs);
    }
    ConsolePrint(MSG_FILE_OPEN_ERROR, path);
    return nullptr;
}

// Reads the next piece into a cleared buffer, so that a line end found
// anywhere in it is the one that ended the read, even past a NUL byte.
bool ReadPiece(char (&piece)[kFilterPieceSize], FILE* input) {
    std::memset(piece, 0, sizeof piece);
    return ReadTextLine(piece, sizeof piece, input);
}

// Copies the lines holding marker. Every input line gives at most one output
// line, so a stage that pairs the k-th output line with its k-th row never
// sees two lines run together: a kept piece that does not end its line is
// closed with a line end where the line ends, and the rest of that line is
// not written.
void CopyMarkerLines(FILE* input, const char* marker, FILE* output) {
    char piece[kFilterPieceSize];
    bool in_written_line = false;
    while (ReadPiece(piece, input)) {
        bool ends_line = std::memchr(piece, '\n', sizeof piece) != nullptr;
        if (in_written_line) {
            if (ends_line) WriteText(output, "\n");
            in_written_line = !ends_line;
            continue;
        }
        if (std::strstr(piece, marker) == nullptr) continue;
        WriteText(output, piece);
        if (std::strchr(piece, '\n') != nullptr) continue;  // written with its line end
        if (ends_line) {
            WriteText(output, "\n");  // the line end stood after a NUL byte
        } else {
            in_written_line = true;
        }
    }
}

}  // namespace

void CommandStart(CommandLine* command, const char* text) {
    command->Text[0] = '\0';
    command->Length = 0;
    CommandAppend(command, text);
}

void CommandAppend(CommandLine* command, const char* text) {
    size_t length = std::strlen(text);
    if (command->Length + length >= sizeof command->Text) {
        length = sizeof command->Text - 1 - command->Length;  // unreachable by design
    }
    std::memcpy(command->Text + command->Length, text, length);
    command->Length += length;
    command->Text[command->Length] = '\0';
}

void CommandAppendPath(CommandLine* command, const char* path) {
    bool quoted = std::strchr(path, ' ') != nullptr;
    if (quoted) CommandAppend(command, "\"");
    CommandAppend(command, path);
    if (quoted) CommandAppend(command, "\"");
}

void RunCommand(const char* text) { PlatformRunCommand(text); }

void DeleteWorkFile(const char* path) {
    CommandLine command;
    CommandStart(&command, "del ");
    CommandAppendPath(&command, path);
    RunCommand(command.Text);
}

void FilterLines(const char* input_path, const char* marker, const char* output_path) {
    FILE* input = OpenWithRetries(OpenTextForRead, input_path);
    if (input == nullptr) return;
    FILE* output = OpenWithRetries(OpenTextForWrite, output_path);
    if (output == nullptr) {
        std::fclose(input);
        return;
    }
    CopyMarkerLines(input, marker, output);
    std::fclose(output);
    std::fclose(input);
}

FILE* OpenForReadWithRetries(const char* path) { return OpenWithRetries(OpenTextForRead, path); }

FILE* OpenForWriteWithRetries(const char* path) { return OpenWithRetries(OpenTextForWrite, path); }
