#include "platform/winver.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

struct NamedVersion {
    const char* name;
    PlatformVersion version;
};

// The Windows 95 family keeps its version in the high word of the build number.
const NamedVersion kNamedVersions[] = {
    {"95", {4, 0, 0x040003B6}},   {"98", {4, 10, 0x040A08AE}}, {"me", {4, 90, 0x045A0BB8}},
    {"nt4", {4, 0, 1381}},        {"2000", {5, 0, 2195}},      {"xp", {5, 1, 2600}},
    {"2003", {5, 2, 3790}},       {"vista", {6, 0, 6000}},
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
