// Big-endian fields and IPv4 addresses in the bytes of packets and kernel
// messages, read and written one byte at a time, so that no access depends on
// the alignment of the bytes or the byte order of the machine.
#pragma once

#include <cstdint>
#include <string>

inline uint16_t ReadBigEndian16(const unsigned char* bytes) {
    return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

inline void PutBigEndian16(uint16_t value, char* bytes) {
    bytes[0] = static_cast<char>(value >> 8);
    bytes[1] = static_cast<char>(value & 0xFF);
}

inline void AppendBigEndian16(uint16_t value, std::string* bytes) {
    *bytes += static_cast<char>(value >> 8);
    *bytes += static_cast<char>(value & 0xFF);
}

// An IPv4 address as it travels (network byte order), in host byte order.
inline uint32_t ReadIpv4Address(const unsigned char* bytes) {
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
           bytes[3];
}
