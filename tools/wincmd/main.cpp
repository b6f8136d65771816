// wincmd: the stand-in for the Windows command interpreter and network tools,
// invoked as `wincmd /c "<command line>"`.
#include <cstdio>
#include <string>

#include "shell.h"

int main(int argc, char** argv) {
    std::string first = argc > 1 ? argv[1] : "";
    if (argc < 2 || (first != "/c" && first != "/C")) {
        std::fputs("usage: wincmd /c \"<command line>\"\n", stderr);
        return 1;
    }
    // Like the interpreter, /c takes the rest of the line as the command.
    std::string text;
    for (int i = 2; i < argc; ++i) text += (i > 2 ? " " : "") + std::string(argv[i]);
    return RunCommandLine(text);
}
