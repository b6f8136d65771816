#include "live/kernel/icmp_answers.h"

#include "live/kernel/bytes.h"

namespace {

constexpr unsigned char kEchoRequestType = 8;
constexpr unsigned char kEchoReplyType = 0;
constexpr size_t kIcmpHeaderLength = 8;
constexpr size_t kShortestIpHeader = 20;

// The Internet checksum (RFC 1071) of the bytes.
uint16_t InternetChecksum(const std::string& bytes) {
    uint32_t sum = 0;
    for (size_t i = 0; i < bytes.size(); i += 2) {
        uint32_t high = static_cast<unsigned char>(bytes[i]);
        uint32_t low = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
        sum += (high << 8) | low;
    }
    while ((sum >> 16) != 0) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum & 0xFFFF);
}

}  // namespace

std::string EchoRequestPacket(uint16_t identifier, uint16_t sequence, const std::string& payload) {
    std::string packet(kIcmpHeaderLength, '\0');
    packet[0] = static_cast<char>(kEchoRequestType);
    PutBigEndian16(identifier, &packet[4]);
    PutBigEndian16(sequence, &packet[6]);
    packet += payload;
    PutBigEndian16(InternetChecksum(packet), &packet[2]);
    return packet;
}

namespace {

// An ICMP echo reply as a socket gives it: with the IP header in front (raw
// socket) or without (datagram socket).
struct ReceivedEcho {
    uint16_t Identifier;
    uint16_t Sequence;
    std::string Payload;
    int Ttl;  // from the IP header; kUnknownTtl without one
};

// False when data is not a whole echo reply.
bool ReadEchoReply(const unsigned char* data, size_t length, bool with_ip_header,
                   ReceivedEcho* echo) {
    echo->Ttl = kUnknownTtl;
    if (with_ip_header) {
        if (length < kShortestIpHeader) return false;
        const size_t header_length = static_cast<size_t>(data[0] & 0x0F) * 4;
        if (header_length < kShortestIpHeader || length < header_length) return false;
        echo->Ttl = data[8];
        data += header_length;
        length -= header_length;
    }
    if (length < kIcmpHeaderLength || data[0] != kEchoReplyType || data[1] != 0) return false;
    echo->Identifier = ReadBigEndian16(data + 4);
    echo->Sequence = ReadBigEndian16(data + 6);
    echo->Payload.assign(reinterpret_cast<const char*>(data + kIcmpHeaderLength),
                         length - kIcmpHeaderLength);
    return true;
}

}  // namespace

bool MatchEchoReply(const EchoQuery& query, uint32_t source, const unsigned char* data,
                    size_t length, bool with_ip_header, int control_ttl, int* ttl) {
    ReceivedEcho echo;
    if (source != query.Address || !ReadEchoReply(data, length, with_ip_header, &echo)) return false;
    if (echo.Identifier != query.Identifier || echo.Sequence != query.Sequence ||
        echo.Payload != query.Payload) {
        return false;
    }
    *ttl = with_ip_header ? echo.Ttl : control_ttl;
    return true;
}
