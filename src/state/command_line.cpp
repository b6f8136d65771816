#include "state/command_line.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "state/run_state.h"
#include "text/messages.h"

namespace {

constexpr int32_t kMaxPingWait = 10000;
constexpr int32_t kMinProbes = 1;

void SetInitialSettings() {
    RunSettings& settings = State.Settings;
    std::memset(&settings, 0, sizeof settings);
    CopyField(settings.ResFile, sizeof settings.ResFile, "rsp.txt");
    settings.Class = CLASS_C;
    settings.Probes = kMinProbes;
}

[[noreturn]] void RejectArgument(const char* argument) {
    ConsoleEcho(MSG_INVALID_PARAMETER, argument);
    PrintUsage();
    PlatformExit(0);
}

bool ParseClass(char letter, ClassMode* mode) {
    switch (std::toupper(static_cast<unsigned char>(letter))) {
        case 'N': *mode = CLASS_NETBEUI; return true;
        case 'C': *mode = CLASS_C; return true;
        case 'B': *mode = CLASS_B; return true;
        case 'A': *mode = CLASS_A; return true;
        default: return false;
    }
}

// A value that does not fit its field with its NUL is a wrong argument.
bool CopyValue(char* field, size_t size, const char* value) {
    if (std::strlen(value) >= size) return false;
    CopyField(field, size, value);
    return true;
}

// /w: reads the value as atoi does (white space, a sign, digits up to the first
// other character, no digits give 0), but reports values outside low..high,
// overflowing ones included, as wrong.
bool ParseNumber(const char* text, int32_t low, int32_t high, int32_t* number) {
    while (std::isspace(static_cast<unsigned char>(*text))) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    int64_t value = 0;
    for (; std::isdigit(static_cast<unsigned char>(*text)); ++text) {
        value = value * 10 + (*text - '0');
        if (value > high) return false;
    }
    if (negative) value = -value;
    if (value < low) return false;
    *number = static_cast<int32_t>(value);
    return true;
}

// Reads only digits, at least one, as a number from low to high.
bool ParseDigits(const char* text, int32_t low, int32_t high, int32_t* number) {
    if (*text == '\0') return false;
    int64_t value = 0;
    for (; *text != '\0'; ++text) {
        if (!std::isdigit(static_cast<unsigned char>(*text))) return false;
        value = value * 10 + (*text - '0');
        if (value > high) return false;
    }
    if (value < low) return false;
    *number = static_cast<int32_t>(value);
    return true;
}

constexpr uint32_t kMaxAddressPart = 255;
constexpr uint32_t kClassAMask = 0xFF000000u;

// Four decimal numbers 0 to 255 separated by dots, nothing before or after;
// leading zeros read as decimal. The first number goes into the top byte.
bool ParseDottedQuad(const char* text, uint32_t* address) {
    uint32_t value = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && *text++ != '.') return false;
        if (!std::isdigit(static_cast<unsigned char>(*text))) return false;
        uint32_t number = 0;
        for (; std::isdigit(static_cast<unsigned char>(*text)); ++text) {
            number = number * 10 + static_cast<uint32_t>(*text - '0');
            if (number > kMaxAddressPart) return false;
        }
        value = (value << 8) | number;
    }
    if (*text != '\0') return false;
    *address = value;
    return true;
}

// Ones, then zeros, and at least the eight ones of the class A mask: a typo
// never makes the sweep leave a segment or skip across the address space.
bool IsSweepableMask(uint32_t mask) {
    uint32_t host_bits = ~mask;
    return (host_bits & (host_bits + 1)) == 0 && (mask & kClassAMask) == kClassAMask;
}

// Keeps the address in the form the sweep reads back, so the echo shows what
// is swept ("01.002.3.4" is 1.2.3.4).
bool ApplyAddress(const char* value, bool is_mask, char* field, size_t size) {
    uint32_t address = 0;
    if (std::strlen(value) >= size || !ParseDottedQuad(value, &address)) return false;
    if (is_mask && !IsSweepableMask(address)) return false;
    std::snprintf(field, size, "%u.%u.%u.%u", static_cast<unsigned>(address >> 24),
                  static_cast<unsigned>((address >> 16) & 0xFFu),
                  static_cast<unsigned>((address >> 8) & 0xFFu),
                  static_cast<unsigned>(address & 0xFFu));
    return true;
}

bool ApplyArgument(const char* argument) {
    if (std::strlen(argument) < 3) return false;
    RunSettings& settings = State.Settings;
    const char* value = argument + 2;
    switch (std::toupper(static_cast<unsigned char>(argument[1]))) {
        case 'C': return ParseClass(value[0], &settings.Class);
        case 'M': return ApplyAddress(value, true, settings.MaskAdd, sizeof settings.MaskAdd);
        case 'N': return ApplyAddress(value, false, settings.NetAdd, sizeof settings.NetAdd);
        case 'O': return CopyValue(settings.ResFile, sizeof settings.ResFile, value);
        case 'W': return ParseNumber(value, 0, kMaxPingWait, &settings.PingWait);
        case 'P': return ParseDigits(value, kMinProbes, MAX_PROBES, &settings.Probes);
        default: return false;
    }
}

void EchoSettings() {
    const RunSettings& settings = State.Settings;
    switch (settings.Class) {
        case CLASS_NETBEUI: ConsolePrint("%s", MSG_CLASS_NETBEUI); break;
        case CLASS_C: ConsolePrint("%s", MSG_CLASS_C); break;
        case CLASS_B: ConsolePrint("%s", MSG_CLASS_B); break;
        case CLASS_A: ConsolePrint("%s", MSG_CLASS_A); break;
    }
    ConsoleEcho(MSG_NETWORK, settings.NetAdd);
    ConsoleEcho(MSG_MASK, settings.MaskAdd);
    ConsoleEcho(MSG_OUTPUT_FILE, settings.ResFile);
    if (settings.Probes > 1) ConsolePrint(MSG_PROBES, static_cast<int>(settings.Probes));
}

const char* DefaultMask(ClassMode mode) {
    switch (mode) {
        case CLASS_C: return "255.255.255.0";
        case CLASS_B: return "255.255.0.0";
        case CLASS_A: return "255.0.0.0";
        default: return "";  // NetBEUI works without a mask
    }
}

// /? in the Windows way, or --help and -h in the GNU one; any other word that
// starts with "--" is no option.
bool AsksForUsage(const char* argument) {
    if (argument[0] == '/' && argument[1] == '?') return true;
    return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0;
}

}  // namespace

void PrintUsage() {
    for (const char* line : MSG_USAGE) ConsolePrint("%s", line);
}

void AnswerVersionRequest(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--version") != 0) return;
    ConsolePrint(MSG_VERSION, "qarvik");
    ConsolePrint("%s", MSG_LICENCE);
    PlatformExit(0);
}

void ParseCommandLine(int argc, char** argv) {
    SetInitialSettings();
    if (argc > 1 && AsksForUsage(argv[1])) {
        PrintUsage();
        PlatformExit(0);
    }
    for (int i = 1; i < argc; ++i) {
        if (!ApplyArgument(argv[i])) RejectArgument(argv[i]);
    }
    EchoSettings();
    if (State.Settings.MaskAdd[0] == '\0') {
        CopyField(State.Settings.MaskAdd, sizeof State.Settings.MaskAdd,
                  DefaultMask(State.Settings.Class));
    }
}
