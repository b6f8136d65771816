// Code page 932 (Shift-JIS) byte classes, for code that walks such text byte
// by byte: the program's console conversion and the stand-in's names.
#pragma once

// A first byte of a double-byte character, whose second byte may look like
// an ASCII letter.
constexpr bool IsCp932LeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// A byte that can follow a lead byte.
constexpr bool IsCp932SecondByte(unsigned char byte) {
    return byte >= 0x40 && byte <= 0xFC && byte != 0x7F;
}
