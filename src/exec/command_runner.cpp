#include "exec/command_runner.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/text_file.h"
#include "text/messages.h"

namespace {

constexpr int kOpenAttempts = 100;
constexpr int kOpenRetryWaitMs = 300;
constexpr int kFilterPieceSize = 256;
// A path holding any of these would split the command line or be read by the
// interpreter as a redirection, a pipe, a second command or an escape.
constexpr char kQuotedPathCharacters[] = " &|<>^";

using OpenFunction = FILE* (*)(const char* path);

// Tries to open a file the tools may still be writing: every failure is
// followed by a wait, and after the last one the path is reported.
FILE* OpenWithRetries(OpenFunction open, const char* path) {
    EndRunIfWorkFileLost();  // a report lost for good is not waited for
    int error = 0;
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        FILE* file = open(path);
        if (file != nullptr) return file;
        error = errno;
        PlatformWait(kOpenRetryWaitMs);
    }
    ConsoleEcho(MSG_FILE_OPEN_ERROR, path);
    if (error != 0) NoteSystemError(error);
    PlatformSayReason(path);
    State.StageFailed = true;
    return nullptr;
}

// Length of a piece's text: a line's text ends at its first NUL byte, as the
// stages read it.
size_t TextLength(const char* piece, int length) {
    const void* nul = std::memchr(piece, '\0', static_cast<size_t>(length));
    return nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - piece)
                          : static_cast<size_t>(length);
}

bool EndsLine(const char* piece, int length) { return piece[length - 1] == '\n'; }

// Whether the line that starts with piece holds the marker anywhere in its
// text. Reads the rest of a longer line, up to the start of the next one.
bool LineHoldsMarker(const char* piece, int length, const char* marker, FILE* input) {
    LineWindow window;
    StartLineWindow(&window);
    bool found = false;
    char next[kFilterPieceSize];
    for (;;) {
        if (!found && AddLinePiece(&window, piece, length)) {
            found = LineWindowHolds(window, marker);
        }
        if (EndsLine(piece, length)) return found;
        length = ReadTextPiece(next, sizeof next, input);
        if (length == 0) return found;
        piece = next;
    }
}

// Writes the text of the line that starts with piece, however long, and its
// line end; the rest of a longer line is read from input.
void WriteLine(const char* piece, int length, FILE* input, FILE* output) {
    bool text_ended = false;
    char next[kFilterPieceSize];
    for (;;) {
        if (!text_ended) {
            WriteText(output, piece);  // up to a NUL byte
            text_ended = TextLength(piece, length) < static_cast<size_t>(length);
        }
        if (EndsLine(piece, length)) {
            if (text_ended) WriteText(output, "\n");  // the line end stood after a NUL
            return;
        }
        length = ReadTextPiece(next, sizeof next, input);
        if (length == 0) return;
        piece = next;
    }
}

// Copies the lines holding marker, each whole and once, in their order. A
// line longer than a piece is searched first and then read again from its
// start to be copied.
void CopyMarkerLines(FILE* input, const char* marker, FILE* output) {
    char piece[kFilterPieceSize];
    for (;;) {
        int length = ReadTextPiece(piece, sizeof piece, input);
        if (length == 0) return;
        bool one_piece = EndsLine(piece, length);
        // A piece that does not end its line holds its bytes as the file does
        // (only a CR LF pair reads as one byte), so its start is found from here.
        long line_start = one_piece ? 0 : std::ftell(input) - length;
        if (!LineHoldsMarker(piece, length, marker, input)) continue;
        if (!one_piece) {
            if (line_start < 0 || std::fseek(input, line_start, SEEK_SET) != 0) return;
            length = ReadTextPiece(piece, sizeof piece, input);
        }
        WriteLine(piece, length, input, output);
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
    bool quoted = std::strpbrk(path, kQuotedPathCharacters) != nullptr;
    if (quoted) CommandAppend(command, "\"");
    CommandAppend(command, path);
    if (quoted) CommandAppend(command, "\"");
}

int RunCommand(const char* text) { return PlatformRunCommand(text); }

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
    CloseWorkFile(output);
    std::fclose(input);
}

// The last flush's error, when the close fails, says why best; else the one
// the failed write left.
void CloseWorkFile(FILE* file) {
    int error = errno;
    bool failed_before = std::ferror(file) != 0;
    if (std::fclose(file) != 0) {
        error = errno;
    } else if (!failed_before) {
        return;
    }
    NoteLostWorkFile(error != 0 ? error : EIO);
}

FILE* OpenForReadWithRetries(const char* path) { return OpenWithRetries(OpenTextForRead, path); }

FILE* OpenForWriteWithRetries(const char* path) { return OpenWithRetries(OpenTextForWrite, path); }
