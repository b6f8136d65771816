// Console texts on a POSIX terminal whose character set is not code page 932:
// each text is converted from code page 932 on its way out, one text at a time,
// so that progress marks still show while the tools run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// What shows in place of a byte sequence the terminal's set has no character for.
constexpr char kUnconvertibleMark[] = "?";

// True for the names a locale gives code page 932 by (CP932, SHIFT_JIS, SJIS),
// in any case: such a terminal takes the bytes as they are.
bool IsShiftJisCodeset(const char* codeset);

// The character set of the user's locale (LC_ALL, LC_CTYPE, LANG). The
// program's own handling of bytes stays in the locale it started in, so the
// locale is put back at once. A locale whose set is ASCII (C, POSIX, none) or
// that cannot be loaded gives UTF-8 (see CodesetOfLocale).
void UserCodeset(char* codeset, size_t size);

// The character set that counts for a locale: its own, except that ASCII
// (what C, POSIX and an unset locale give) and a locale that could not be
// loaded (loaded false) count as UTF-8, the set of the terminals such
// locales run in (containers, SSH sessions, service units). UTF-8 holds
// ASCII, so what is ASCII reads the same.
const char* CodesetOfLocale(bool loaded, const char* codeset);

// What the user typed or the system named, in the user's codeset, as code
// page 932 bytes, for a stream that gets code page 932 throughout: a
// character that code page 932 lacks, or a byte that is no character of
// codeset, becomes "?". False when the C library cannot convert from codeset.
bool TypedInCodePage932(const char* codeset, const char* text, size_t length,
                        std::string* converted);

// The same into the console code page code_page (932, 437, 1252, ...): a
// code page the C library cannot convert into keeps the ASCII characters
// alone, the others becoming "?".
bool TypedInCodePage(const char* codeset, uint32_t code_page, const char* text, size_t length,
                     std::string* converted);

// Readies the conversion from code page 932 into codeset; false when the C
// library cannot convert between the two.
bool OpenTerminalConversion(const char* codeset);

// Converts one console text and writes it to out. A byte sequence that cannot
// be converted shows as "?", and the rest of the text still follows; a lead
// byte that ends the text waits for the next one.
void WriteTerminalText(const char* text, size_t length, std::FILE* out);

// Writes text that is in the terminal's character set already (what the user
// typed) as it is; a lead byte still waiting from the text before shows as "?".
void WriteTerminalTyped(const char* text, size_t length, std::FILE* out);

// Writes a lead byte that still waits as "?" (it has no second byte to make a
// character with) and ends the conversion.
void CloseTerminalConversion(std::FILE* out);

// A stream that writes what it is given to terminal in the character set of
// the user's locale, converted from code page 932 as the console texts are, for
// a program that writes its texts with the C library's stream functions; null
// when terminal is not a terminal, takes the bytes as they are, or cannot be
// converted for. Closing it ends the conversion, not the terminal's stream.
std::FILE* OpenTerminalStream(std::FILE* terminal);
