#include "contract/windows_version.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

struct NamedVersion {
    const char* name;
    PlatformVersion version;
};

constexpr bool kServer = true;

// The Windows 95 family keeps its version in the high word of the build number.
// From version 6 on, the builds are those of each version's last service pack
// or update.
const NamedVersion kNamedVersions[] = {
    {"95", {4, 0, 0x040003B6, false}},
    {"98", {4, 10, 0x040A08AE, false}},
    {"me", {4, 90, 0x045A0BB8, false}},
    {"nt4", {4, 0, 1381, false}},
    {"2000", {5, 0, 2195, false}},
    {"xp", {5, 1, 2600, false}},
    {"2003", {5, 2, 3790, false}},
    {"vista", {6, 0, 6002, false}},
    {"7", {6, 1, 7601, false}},
    {"8", {6, 2, 9200, false}},
    {"8.1", {6, 3, 9600, false}},
    {"10", {10, 0, 19045, false}},
    {"11", {10, 0, 22631, false}},
    {"2008", {6, 0, 6002, kServer}},
    {"2008r2", {6, 1, 7601, kServer}},
    {"2012", {6, 2, 9200, kServer}},
    {"2012r2", {6, 3, 9600, kServer}},
    {"2016", {10, 0, 14393, kServer}},
    {"2019", {10, 0, 17763, kServer}},
    {"2022", {10, 0, 20348, kServer}},
    {"2025", {10, 0, 26100, kServer}},
};

// One unsigned 32-bit number, decimal or 0x hexadecimal, ending at end_char.
bool ReadNumber(const char** cursor, char end_char, uint32_t* value) {
    const char* text = *cursor;
    int base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
    }
    if (!(base == 16 ? std::isxdigit(static_cast<unsigned char>(*text))
                     : std::isdigit(static_cast<unsigned char>(*text)))) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    unsigned long long number = std::strtoull(text, &end, base);
    if (errno != 0 || number > 0xFFFFFFFFULL || *end != end_char) return false;
    *value = static_cast<uint32_t>(number);
    *cursor = end_char == '\0' ? end : end + 1;
    return true;
}

}  // namespace

bool ParseSimulatedVersion(const char* text, PlatformVersion* version) {
    if (text == nullptr || text[0] == '\0') text = "xp";
    for (const NamedVersion& named : kNamedVersions) {
        if (std::strcmp(text, named.name) == 0) {
            *version = named.version;
            return true;
        }
    }
    PlatformVersion parsed{};
    const char* cursor = text;
    if (!ReadNumber(&cursor, '.', &parsed.MajorVersion) ||
        !ReadNumber(&cursor, '.', &parsed.MinorVersion) ||
        !ReadNumber(&cursor, '\0', &parsed.BuildNumber)) {
        return false;
    }
    *version = parsed;
    return true;
}

uint32_t ParseSimulatedCodePage(const char* text) {
    uint32_t code_page = 0;
    const char* cursor = text;
    const bool decimal = text != nullptr && text[0] != '\0' &&
                         text[std::strspn(text, "0123456789")] == '\0';
    if (decimal && ReadNumber(&cursor, '\0', &code_page)) {
        return code_page;
    }
    return CODE_PAGE_JAPANESE;
}
