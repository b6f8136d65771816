// The command interpreter of the simulated Windows machine: one command line,
// its output redirections, and the command it names.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "contract/windows_version.h"
#include "tools/tool_context.h"

// A word of the command line, or a redirection operator before its path.
struct Token {
    std::string Text;
    bool IsRedirection;
    bool Appends;  // ">>" rather than ">"
};

// Splits at blanks outside double quotes; quotes are removed, and ">" or ">>"
// outside quotes is an operator even when glued to a word.
std::vector<Token> Tokenize(const std::string& text);

// Runs the command line and returns its exit status.
int RunCommandLine(const std::string& text);

// Runs one command: words[0] names it (the case of letters and a ".exe" aside),
// the rest are its arguments, and its report goes to output. The network tools
// print the formats of version; without one, of the version in QARVIK_WINVER.
int RunCommandWords(const Arguments& words, FILE* output, const PlatformVersion* version);
