// ICMP echo as the live ping sends and reads it: the request's bytes and
// whether a datagram received answers it. Pure functions, so that every rule
// can be tried on made-up answers; the socket is in echo_socket.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// An ICMP echo request with its checksum.
std::string EchoRequestPacket(uint16_t identifier, uint16_t sequence, const std::string& payload);

// The echo request that a reply must answer.
struct EchoQuery {
    uint32_t Address;  // where it went, host byte order
    uint16_t Identifier;
    uint16_t Sequence;
    std::string Payload;
};

constexpr int kUnknownTtl = -1;

// Whether a datagram received from source (host byte order) answers the
// query: an echo reply from the address the request went to, with its
// identifier, sequence and payload. A raw socket gives the IP header in front
// (with_ip_header), whose TTL goes to *ttl; a datagram socket gives the TTL
// apart, as control_ttl (kUnknownTtl when the kernel did not hand it over).
bool MatchEchoReply(const EchoQuery& query, uint32_t source, const unsigned char* data,
                    size_t length, bool with_ip_header, int control_ttl, int* ttl);
