// The values the tools and the machines read and write as text: dotted
// decimal addresses, hexadecimal digits, and names compared as Windows
// compares them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Dotted decimal, four numbers of 0 to 255.
bool ParseAddress(std::string_view text, uint32_t* address);
std::string FormatAddress(uint32_t address);

// The value of a hexadecimal digit in either case; -1 for any other character.
int HexValue(char c);

// Whether two NetBIOS or DNS names are the same, ignoring the case of ASCII
// letters but never touching the second byte of a code page 932 character.
bool SameName(const std::string& a, const std::string& b);
