// wincmd: the stand-in for the Windows command interpreter and network tools,
// invoked as `wincmd /c "<command line>"`.
#include <cstdio>
#include <string>

#include "shell.h"

int main(int argc, char** argv) {
    std::string first = argc > 1 ? argv[1] : "";
    if (argc < 3 || (first != "/c" && first != "/C")) {
        std::fputs("usage: wincmd /c \"<command line>\"\n", stderr);
        return 1;
    }
    // Like the interpreter, /c takes the rest of the line as the command.
    std::string text = argv[2];
    for (int i = 3; i < argc; ++i) text += std::string(" ") + argv[i];
    return RunCommandLine(text);
}
