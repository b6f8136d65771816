#include "contract/terminal_charset.h"

#include <iconv.h>
#include <langinfo.h>
#include <strings.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <string>

#include "contract/code_page_932.h"

namespace {

const iconv_t kNoConversion = reinterpret_cast<iconv_t>(-1);

// A code page 932 character is one byte, or a lead byte and a second byte; a
// text can end between the two.
constexpr size_t kMaxWaitingBytes = 1;

// The conversion of one stream: a lead byte that ended a text waits for the
// next one.
struct Conversion {
    iconv_t Handle = kNoConversion;
    char Waiting[kMaxWaitingBytes];
    size_t WaitingLength = 0;
};

Conversion g_console;  // the program's console texts

// How many bytes the "?" stands for: a lead byte with a second byte after it
// is one character; anything else is one byte, so a line end after a stray
// lead byte is kept.
size_t UnconvertibleLength(const char* text, size_t length) {
    bool pair = length >= 2 && IsCp932LeadByte(static_cast<unsigned char>(text[0])) &&
                IsCp932SecondByte(static_cast<unsigned char>(text[1]));
    return pair ? 2 : 1;
}

// Keeps the incomplete character that ends a text for the next text; false
// when it does not fit (it cannot be a character then).
bool KeepWaiting(Conversion* conversion, const char* text, size_t length) {
    if (length > kMaxWaitingBytes) return false;
    for (size_t k = 0; k < length; ++k) conversion->Waiting[k] = text[k];
    conversion->WaitingLength = length;
    return true;
}

void Convert(Conversion* conversion, const char* text, size_t length, std::FILE* out) {
    char* in = const_cast<char*>(text);  // iconv does not write the input
    size_t in_left = length;
    while (in_left > 0) {
        char converted[256];  // room for several characters of any character set
        char* converted_end = converted;
        size_t room = sizeof converted;
        size_t result = iconv(conversion->Handle, &in, &in_left, &converted_end, &room);
        std::fwrite(converted, 1, sizeof converted - room, out);
        if (result != static_cast<size_t>(-1) || errno == E2BIG) continue;
        if (errno == EINVAL && KeepWaiting(conversion, in, in_left)) return;
        std::fputs(kUnconvertibleMark, out);
        size_t skipped = UnconvertibleLength(in, in_left);
        in += skipped;
        in_left -= skipped;
    }
}

void WriteConverted(Conversion* conversion, const char* text, size_t length, std::FILE* out) {
    if (conversion->WaitingLength == 0) {
        Convert(conversion, text, length, out);
        return;
    }
    std::string joined(conversion->Waiting, conversion->WaitingLength);
    joined.append(text, length);
    conversion->WaitingLength = 0;
    Convert(conversion, joined.data(), joined.size(), out);
}

void EndConversion(Conversion* conversion, std::FILE* out) {
    if (conversion->WaitingLength > 0) std::fputs(kUnconvertibleMark, out);
    conversion->WaitingLength = 0;
    std::fflush(out);
    if (conversion->Handle != kNoConversion) iconv_close(conversion->Handle);
    conversion->Handle = kNoConversion;
}

// A stream whose bytes are converted on their way to a terminal.
struct TerminalStream {
    Conversion State;
    std::FILE* Terminal;
};

ssize_t WriteToTerminalStream(void* cookie, const char* bytes, size_t size) {
    TerminalStream* stream = static_cast<TerminalStream*>(cookie);
    WriteConverted(&stream->State, bytes, size, stream->Terminal);
    std::fflush(stream->Terminal);
    return static_cast<ssize_t>(size);
}

int CloseTerminalStream(void* cookie) {
    TerminalStream* stream = static_cast<TerminalStream*>(cookie);
    EndConversion(&stream->State, stream->Terminal);
    delete stream;
    return 0;
}

// Converts all of text with handle, appending to *out; a piece that cannot be
// converted becomes mark, and skip bytes of it are passed over.
void ConvertSkipping(iconv_t handle, const std::string& text, size_t skip, const std::string& mark,
                     std::string* out) {
    char* in = const_cast<char*>(text.data());  // iconv does not write the input
    size_t in_left = text.size();
    while (in_left > 0) {
        char converted[256];
        char* converted_end = converted;
        size_t room = sizeof converted;
        size_t result = iconv(handle, &in, &in_left, &converted_end, &room);
        out->append(converted, sizeof converted - room);
        if (result != static_cast<size_t>(-1) || errno == E2BIG) continue;
        out->append(mark);
        size_t skipped = skip < in_left ? skip : in_left;
        in += skipped;
        in_left -= skipped;
    }
}

// The names C libraries give ASCII by.
bool IsAsciiCodeset(const char* codeset) {
    for (const char* name : {"ANSI_X3.4-1968", "ASCII", "US-ASCII", "646"}) {
        if (strcasecmp(codeset, name) == 0) return true;
    }
    return false;
}

// A character of the intermediate set, UTF-32 in little-endian order: every
// character is this many bytes, so one that code page 932 lacks is passed
// over whole.
constexpr size_t kUtf32Length = 4;

}  // namespace

const char* CodesetOfLocale(bool loaded, const char* codeset) {
    if (!loaded || codeset == nullptr || codeset[0] == '\0' || IsAsciiCodeset(codeset)) {
        return "UTF-8";
    }
    return codeset;
}

bool TypedInCodePage932(const char* codeset, const char* text, size_t length,
                        std::string* converted) {
    return TypedInCodePage(codeset, 932, text, length, converted);
}

bool TypedInCodePage(const char* codeset, uint32_t code_page, const char* text, size_t length,
                     std::string* converted) {
    iconv_t to_utf32 = iconv_open("UTF-32LE", codeset);
    if (to_utf32 == kNoConversion) return false;
    const std::string target = "CP" + std::to_string(code_page);
    iconv_t to_page = iconv_open(target.c_str(), "UTF-32LE");
    // A code page the C library does not know keeps what is ASCII, which
    // every code page of the consoles holds.
    if (to_page == kNoConversion) to_page = iconv_open("ASCII", "UTF-32LE");
    if (to_page == kNoConversion) {
        iconv_close(to_utf32);
        return false;
    }
    const std::string mark(kUnconvertibleMark);
    std::string mark_utf32;  // the mark is ASCII: each byte, then three zero bytes
    for (char c : mark) mark_utf32 += std::string(1, c) + std::string(kUtf32Length - 1, '\0');
    std::string characters;  // a byte that is no character of codeset becomes one mark
    ConvertSkipping(to_utf32, std::string(text, length), 1, mark_utf32, &characters);
    converted->clear();
    ConvertSkipping(to_page, characters, kUtf32Length, mark, converted);
    iconv_close(to_page);
    iconv_close(to_utf32);
    return true;
}

bool IsShiftJisCodeset(const char* codeset) {
    for (const char* name : {"CP932", "SHIFT_JIS", "SJIS"}) {
        if (strcasecmp(codeset, name) == 0) return true;
    }
    return false;
}

void UserCodeset(char* codeset, size_t size) {
    char before[256];
    std::snprintf(before, sizeof before, "%s", std::setlocale(LC_CTYPE, nullptr));
    const bool loaded = std::setlocale(LC_CTYPE, "") != nullptr;
    std::snprintf(codeset, size, "%s", CodesetOfLocale(loaded, nl_langinfo(CODESET)));
    std::setlocale(LC_CTYPE, before);
}

bool OpenTerminalConversion(const char* codeset) {
    g_console.Handle = iconv_open(codeset, "CP932");
    g_console.WaitingLength = 0;
    return g_console.Handle != kNoConversion;
}

void WriteTerminalText(const char* text, size_t length, std::FILE* out) {
    WriteConverted(&g_console, text, length, out);
}

void WriteTerminalTyped(const char* text, size_t length, std::FILE* out) {
    if (g_console.WaitingLength > 0) std::fputs(kUnconvertibleMark, out);
    g_console.WaitingLength = 0;
    std::fwrite(text, 1, length, out);
}

void CloseTerminalConversion(std::FILE* out) { EndConversion(&g_console, out); }

std::FILE* OpenTerminalStream(std::FILE* terminal) {
    if (isatty(fileno(terminal)) == 0) return nullptr;
    char codeset[64];
    UserCodeset(codeset, sizeof codeset);
    if (IsShiftJisCodeset(codeset)) return nullptr;
    iconv_t handle = iconv_open(codeset, "CP932");
    if (handle == kNoConversion) return nullptr;
    TerminalStream* stream = new TerminalStream{{handle, {}, 0}, terminal};
    std::FILE* converted = fopencookie(stream, "w", {nullptr, WriteToTerminalStream, nullptr,
                                                     CloseTerminalStream});
    if (converted == nullptr) {
        CloseTerminalStream(stream);
        return nullptr;
    }
    // A line at a time, so that a report shows as it is written.
    std::setvbuf(converted, nullptr, _IOLBF, BUFSIZ);
    return converted;
}
