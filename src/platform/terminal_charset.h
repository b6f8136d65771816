// Console texts on a POSIX terminal whose character set is not code page 932:
// each text is converted from code page 932 on its way out, one text at a time,
// so that progress marks still show while the tools run.
#pragma once

#include <cstddef>
#include <cstdio>

// True for the names a locale gives code page 932 by (CP932, SHIFT_JIS, SJIS),
// in any case: such a terminal takes the bytes as they are.
bool IsShiftJisCodeset(const char* codeset);

// Readies the conversion from code page 932 into codeset; false when the C
// library cannot convert between the two.
bool OpenTerminalConversion(const char* codeset);

// Converts one console text and writes it to out. A byte sequence that cannot
// be converted shows as "?", and the rest of the text still follows; a lead
// byte that ends the text waits for the next one.
void WriteTerminalText(const char* text, size_t length, std::FILE* out);

// Writes a lead byte that still waits as "?" (it has no second byte to make a
// character with) and ends the conversion.
void CloseTerminalConversion(std::FILE* out);
