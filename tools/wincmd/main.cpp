// wincmd: the stand-in for the Windows command interpreter and network tools,
// invoked as `wincmd /c "<command line>"`.
#include <cstdio>
#include <string>

#include "platform/terminal_charset.h"
#include "shell.h"

namespace {

// Reports and messages are code page 932 bytes, as the Windows tools write
// them. What goes to a terminal is converted into its character set, as
// Qarvik's console texts are; files and pipes keep the bytes.
void ConvertForTerminal(std::FILE** stream) {
    std::FILE* converted = OpenTerminalStream(*stream);
    if (converted != nullptr) *stream = converted;
}

void EndConversion(std::FILE** stream, std::FILE* terminal) {
    if (*stream == terminal) return;
    std::fclose(*stream);
    *stream = terminal;
}

}  // namespace

int main(int argc, char** argv) {
    std::FILE* const terminal_out = stdout;
    std::FILE* const terminal_errors = stderr;
    ConvertForTerminal(&stdout);
    ConvertForTerminal(&stderr);
    int status = 1;
    std::string first = argc > 1 ? argv[1] : "";
    if (argc < 2 || (first != "/c" && first != "/C")) {
        std::fputs("usage: wincmd /c \"<command line>\"\n", stderr);
    } else {
        // Like the interpreter, /c takes the rest of the line as the command.
        std::string text;
        for (int i = 2; i < argc; ++i) text += (i > 2 ? " " : "") + std::string(argv[i]);
        status = RunCommandLine(text);
    }
    EndConversion(&stdout, terminal_out);
    EndConversion(&stderr, terminal_errors);
    return status;
}
