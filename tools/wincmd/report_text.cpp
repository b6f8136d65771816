#include "tools.h"

WinFormat FormatOfVersion(uint32_t major, uint32_t minor, uint32_t build) {
    const uint32_t kWin95FamilyBit = 0x04000000;  // the 95 family keeps its version in the build's high word
    if ((build & kWin95FamilyBit) != 0) return minor == 10 ? FORMAT_98 : FORMAT_95;
    if (major == 4) return FORMAT_NT4;
    if (major == 5 && minor == 0) return FORMAT_2000;
    if (major == 5 && minor == 2) return FORMAT_2003;
    return FORMAT_XP;
}

bool IsWin95Family(WinFormat format) { return format == FORMAT_95 || format == FORMAT_98; }

bool PrintsLikeXp(WinFormat format) { return format == FORMAT_XP || format == FORMAT_2003; }

void PutLine(FILE* out, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), out);
    std::fputs("\r\n", out);  // the streams are binary on every platform
}

std::string FieldLine(int indent, const std::string& label, int column, const std::string& value) {
    std::string line(static_cast<size_t>(indent), ' ');
    line += label;
    const size_t colon = column >= 2 ? static_cast<size_t>(column - 2) : 0;
    if (line.size() < colon) {
        // ". . . ." ending in a blank before the colon; an odd gap starts with a blank.
        if ((colon - line.size()) % 2 == 1) line += ' ';
        while (line.size() < colon) line += ". ";
    } else {
        line += ' ';  // a label too long for its column: the value follows it
    }
    line += ": ";
    line += value;
    return line;
}

std::string PadRight(const std::string& text, size_t width) {
    std::string padded = text;
    padded += ' ';
    if (padded.size() < width) padded.append(width - padded.size(), ' ');
    return padded;
}

std::string ClassfulMask(uint32_t address) {
    if (address == 0) return "0.0.0.0";
    uint32_t first = address >> 24;
    if (first < 128) return "255.0.0.0";
    if (first < 192) return "255.255.0.0";
    return "255.255.255.0";
}
