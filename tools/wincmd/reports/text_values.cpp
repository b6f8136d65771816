#include "reports/text_values.h"

#include <cstdio>

#include "contract/code_page_932.h"

namespace {

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

bool ParseAddress(std::string_view text, uint32_t* address) {
    uint32_t value = 0;
    size_t i = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (i >= text.size() || text[i] != '.') return false;
            ++i;
        }
        size_t start = i;
        uint32_t number = 0;
        while (i < text.size() && i - start < 3 && text[i] >= '0' && text[i] <= '9') {
            number = number * 10 + static_cast<uint32_t>(text[i] - '0');
            ++i;
        }
        if (i == start || number > 255) return false;
        value = (value << 8) | number;
    }
    if (i != text.size()) return false;
    *address = value;
    return true;
}

std::string FormatAddress(uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", (address >> 24) & 0xFF,
                  (address >> 16) & 0xFF, (address >> 8) & 0xFF, address & 0xFF);
    return text;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (IsCp932LeadByte(static_cast<unsigned char>(a[i]))) {
            if (a[i] != b[i]) return false;
            if (i + 1 < a.size() && a[i + 1] != b[i + 1]) return false;
            ++i;
            continue;
        }
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    }
    return true;
}
