// wincmd-tools: the stand-in for the Windows command interpreter and network
// tools, invoked as `wincmd /c "<command line>"` through the wincmd launcher.
#include <cstdio>
#include <cstring>
#include <string>

#include "contract/terminal_charset.h"
#include "resident/resident_interpreter.h"
#include "resident/resident_protocol.h"
#include "shell/shell.h"
#include "shell/interpreter_messages.h"

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

// --help (or -h) and --version as the first argument, as qarvik and GNU tools
// answer them: to standard output, status 0. Returns -1 for any other first
// argument.
int AnswerAboutItself(const std::string& first) {
    if (first == "--help" || first == "-h") {
        std::fputs(MSG_WINCMD_USAGE, stdout);
        return 0;
    }
    if (first != "--version") return -1;
    std::fputs(MSG_WINCMD_VERSION, stdout);
    std::fputs(MSG_WINCMD_LICENCE, stdout);
    return 0;
}

// One command as wincmd runs it: here, or in a process of the run's resident
// interpreter.
int RunWincmd(int argc, char** argv) {
    std::FILE* const terminal_out = stdout;
    std::FILE* const terminal_errors = stderr;
    ConvertForTerminal(&stdout);
    ConvertForTerminal(&stderr);
    const std::string first = argc > 1 ? argv[1] : "";
    int status = AnswerAboutItself(first);
    if (status >= 0) {
        // nothing to run
    } else if (first != "/c" && first != "/C") {
        std::fputs(MSG_WINCMD_USAGE, stderr);
        status = 1;
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

}  // namespace

// The launcher asks the first command of a run to start the run's resident
// interpreter too (before anything else, while this process is still as it
// started); the command itself runs here either way.
int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], resident::kStartArgument) == 0) {
        StartResidentInterpreter(RunWincmd);
        argv[1] = argv[0];
        return RunWincmd(argc - 1, argv + 1);
    }
    return RunWincmd(argc, argv);
}
