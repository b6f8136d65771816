#include "platform/terminal_charset.h"

#include <iconv.h>
#include <strings.h>

#include <cerrno>
#include <string>

#include "text/messages.h"

namespace {

const iconv_t kNoConversion = reinterpret_cast<iconv_t>(-1);
iconv_t g_conversion = kNoConversion;

// A code page 932 character is one byte, or a lead byte and a second byte; a
// text can end between the two.
constexpr size_t kMaxWaitingBytes = 1;
char g_waiting[kMaxWaitingBytes];
size_t g_waiting_length = 0;

bool IsLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool IsSecondByte(unsigned char byte) { return byte >= 0x40 && byte <= 0xFC && byte != 0x7F; }

// How many bytes the "?" stands for: a lead byte with a second byte after it
// is one character; anything else is one byte, so a line end after a stray
// lead byte is kept.
size_t UnconvertibleLength(const char* text, size_t length) {
    bool pair = length >= 2 && IsLeadByte(static_cast<unsigned char>(text[0])) &&
                IsSecondByte(static_cast<unsigned char>(text[1]));
    return pair ? 2 : 1;
}

// Keeps the incomplete character that ends a text for the next text; false
// when it does not fit (it cannot be a character then).
bool KeepWaiting(const char* text, size_t length) {
    if (length > kMaxWaitingBytes) return false;
    for (size_t k = 0; k < length; ++k) g_waiting[k] = text[k];
    g_waiting_length = length;
    return true;
}

void Convert(const char* text, size_t length, std::FILE* out) {
    char* in = const_cast<char*>(text);  // iconv does not write the input
    size_t in_left = length;
    while (in_left > 0) {
        char converted[256];  // room for several characters of any character set
        char* converted_end = converted;
        size_t room = sizeof converted;
        size_t result = iconv(g_conversion, &in, &in_left, &converted_end, &room);
        std::fwrite(converted, 1, sizeof converted - room, out);
        if (result != static_cast<size_t>(-1) || errno == E2BIG) continue;
        if (errno == EINVAL && KeepWaiting(in, in_left)) return;
        std::fputs(MSG_UNCONVERTIBLE, out);
        size_t skipped = UnconvertibleLength(in, in_left);
        in += skipped;
        in_left -= skipped;
    }
}

}  // namespace

bool IsShiftJisCodeset(const char* codeset) {
    for (const char* name : {"CP932", "SHIFT_JIS", "SJIS"}) {
        if (strcasecmp(codeset, name) == 0) return true;
    }
    return false;
}

bool OpenTerminalConversion(const char* codeset) {
    g_conversion = iconv_open(codeset, "CP932");
    g_waiting_length = 0;
    return g_conversion != kNoConversion;
}

void WriteTerminalText(const char* text, size_t length, std::FILE* out) {
    if (g_waiting_length == 0) {
        Convert(text, length, out);
        return;
    }
    std::string joined(g_waiting, g_waiting_length);
    joined.append(text, length);
    g_waiting_length = 0;
    Convert(joined.data(), joined.size(), out);
}

void CloseTerminalConversion(std::FILE* out) {
    if (g_waiting_length > 0) std::fputs(MSG_UNCONVERTIBLE, out);
    g_waiting_length = 0;
    std::fflush(out);
    if (g_conversion != kNoConversion) iconv_close(g_conversion);
    g_conversion = kNoConversion;
}
