// The words of a network file's line and the values they hold, as the
// network file's parser takes them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "simulated/network.h"

namespace network_words {

struct Word {
    std::string_view Text;
    size_t End;  // offset just past the word in its line
};

// Any control byte but Ctrl-Z (IsRefusedInName) in text.
bool HoldsControl(std::string_view text);
// Views into line; words is reused from line to line to spare allocations.
void SplitWords(std::string_view line, std::vector<Word>* words);
// The rest of the line after offset, without its surrounding blanks.
std::string RestOfLine(std::string_view line, size_t offset);
// Six two-digit hexadecimal groups joined by "-", returned in upper case.
bool ParseMac(std::string_view text, std::string* mac);
// A decimal number of at least 0, such as "0.1" or "25".
bool ParseDecimal(std::string_view text, double* value);
// "up", "arp-only" or "down".
bool ParseState(std::string_view text, HostState* state);
// A word of the file as a message quotes it: in single quotes, each control
// byte written as \xHH, so that no byte of a bad file can move the cursor or
// clear the screen, and a code page 932 name still reads as it stands.
std::string Quoted(std::string_view text);

}  // namespace network_words
