#include "simulated/network_words.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "reports/text_values.h"

namespace network_words {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsControl(char c) {
    const unsigned char byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

// Any control byte but Ctrl-Z, which the tools' reports carry as data, as
// Windows' do, and which the program reads as data too.
bool IsRefusedInName(char c) { return IsControl(c) && c != '\x1A'; }

}  // namespace

bool HoldsControl(std::string_view text) {
    return std::any_of(text.begin(), text.end(), IsRefusedInName);
}

// Views into line; words is reused from line to line to spare allocations.
void SplitWords(std::string_view line, std::vector<Word>* words) {
    words->clear();
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i])) ++i;
        size_t start = i;
        while (i < line.size() && !IsBlank(line[i])) ++i;
        if (i > start) words->push_back({line.substr(start, i - start), i});
    }
}

// The rest of the line after offset, without its surrounding blanks.
std::string RestOfLine(std::string_view line, size_t offset) {
    size_t start = offset;
    while (start < line.size() && IsBlank(line[start])) ++start;
    size_t end = line.size();
    while (end > start && IsBlank(line[end - 1])) --end;
    return std::string(line.substr(start, end - start));
}

// Six two-digit hexadecimal groups joined by "-", returned in upper case.
bool ParseMac(std::string_view text, std::string* mac) {
    if (text.size() != 17) return false;
    static const char kDigits[] = "0123456789ABCDEF";
    std::string upper(text);
    for (size_t i = 0; i < text.size(); ++i) {
        if (i % 3 == 2) {
            if (text[i] != '-') return false;
            continue;
        }
        int value = HexValue(text[i]);
        if (value < 0) return false;
        upper[i] = kDigits[value];
    }
    *mac = upper;
    return true;
}

// A decimal number of at least 0, such as "0.1" or "25".
bool ParseDecimal(std::string_view text, double* value) {
    if (text.empty() || text.size() > 12 ||
        text.find_first_not_of("0123456789.") != std::string_view::npos) {
        return false;
    }
    std::string digits(text);
    char* end = nullptr;
    *value = std::strtod(digits.c_str(), &end);
    return end == digits.c_str() + digits.size();
}

bool ParseState(std::string_view text, HostState* state) {
    if (text == "up") *state = HOST_UP;
    else if (text == "arp-only") *state = HOST_ARP_ONLY;
    else if (text == "down") *state = HOST_DOWN;
    else return false;
    return true;
}

// A word of the file as a message quotes it: in single quotes, each control
// byte written as \xHH, so that no byte of a bad file can move the cursor or
// clear the screen, and a code page 932 name still reads as it stands.
std::string Quoted(std::string_view text) {
    std::string quoted = "'";
    for (char c : text) {
        if (IsControl(c)) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(c));
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

}  // namespace network_words
