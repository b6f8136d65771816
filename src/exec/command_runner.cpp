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
    char piece[kFilterPieceSize];
    while (ReadTextLine(piece, sizeof piece, input)) {
        if (std::strstr(piece, marker) != nullptr) WriteText(output, piece);
    }
    std::fclose(output);
    std::fclose(input);
}
