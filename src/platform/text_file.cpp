#include "platform/text_file.h"

#include <cstring>

FILE* OpenTextForRead(const char* path) { return std::fopen(path, "rb"); }

FILE* OpenTextForWrite(const char* path) { return std::fopen(path, "wb"); }

int ReadTextPiece(char* buffer, int size, FILE* file) {
    int length = 0;
    while (length < size - 1) {
        int c = std::getc(file);
        if (c == EOF) break;
        if (c == '\r') {
            int next = std::getc(file);
            if (next == '\n') {
                c = '\n';
            } else if (next != EOF) {
                std::ungetc(next, file);
            }
        }
        buffer[length++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    buffer[length] = '\0';
    return length;
}

bool ReadTextLine(char* buffer, int size, FILE* file) {
    return ReadTextPiece(buffer, size, file) > 0;
}

bool ReadTextLineStart(char* buffer, int size, FILE* file) {
    int length = ReadTextPiece(buffer, size, file);
    if (length == 0) return false;
    if (buffer[length - 1] != '\n') {
        int c = 0;
        do {
            c = std::getc(file);
        } while (c != EOF && c != '\n');
    }
    return true;
}

void StartLineWindow(LineWindow* window) {
    window->Text[0] = '\0';
    window->Length = 0;
    window->TextEnded = false;
}

bool AddLinePiece(LineWindow* window, const char* piece, int read) {
    if (window->TextEnded) return false;
    int carry = window->Length < LINE_WINDOW_CARRY ? window->Length : LINE_WINDOW_CARRY;
    std::memmove(window->Text, window->Text + window->Length - carry, static_cast<size_t>(carry));
    const void* nul = std::memchr(piece, '\0', static_cast<size_t>(read));
    int text = nul != nullptr ? static_cast<int>(static_cast<const char*>(nul) - piece) : read;
    std::memcpy(window->Text + carry, piece, static_cast<size_t>(text));
    window->Length = carry + text;
    window->Text[window->Length] = '\0';
    window->TextEnded = text < read;
    return true;
}

bool LineWindowHolds(const LineWindow& window, const char* text) {
    return std::strstr(window.Text, text) != nullptr;
}

bool WriteText(FILE* file, const char* text) {
    while (*text != '\0') {
        const char* line_end = std::strchr(text, '\n');
        size_t length = line_end != nullptr ? static_cast<size_t>(line_end - text)
                                            : std::strlen(text);
        if (std::fwrite(text, 1, length, file) != length) return false;
        if (line_end == nullptr) break;
        if (std::fwrite("\r\n", 1, 2, file) != 2) return false;
        text = line_end + 1;
    }
    return std::ferror(file) == 0;
}
