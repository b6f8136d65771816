#include "live/kernel_answers.h"

#include <linux/neighbour.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netdb.h>

#include <cstdio>
#include <cstring>

NeighbourListing ListingOfNeighbourState(unsigned state) {
    if ((state & (NUD_PERMANENT | NUD_NOARP)) != 0) return NEIGHBOUR_STATIC;
    // Every state after a resolution holds a hardware address that answered;
    // the kernel merely rechecks the older ones.
    if ((state & (NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE)) != 0) {
        return NEIGHBOUR_DYNAMIC;
    }
    return NEIGHBOUR_NOT_LISTED;  // NUD_INCOMPLETE, NUD_FAILED, NUD_NONE
}

bool ListsAsAdapter(unsigned flags, unsigned hardware_type, size_t hardware_length) {
    constexpr size_t kEthernetAddressLength = 6;
    return (flags & IFF_LOOPBACK) == 0 && hardware_type == ARPHRD_ETHER &&
           hardware_length == kEthernetAddressLength;
}

bool IsConnectedInterface(unsigned flags) {
    // IFF_RUNNING is the kernel's operational state: off without carrier.
    return (flags & IFF_UP) != 0 && (flags & IFF_RUNNING) != 0;
}

std::string MacText(const unsigned char* bytes, size_t length) {
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
        if (i > 0) text += '-';
        text += pair;
    }
    return text;
}

std::string InterfaceOfLabel(const std::string& label) { return label.substr(0, label.find(':')); }

ReverseLookup ReadReverseLookup(int status, const char* name, int system_error) {
    if (status == 0) return {LOOKUP_NAME, name};
    if (status == EAI_NONAME) return {LOOKUP_NO_NAME, ""};
    if (status == EAI_SYSTEM) return {LOOKUP_ERROR, std::strerror(system_error)};
    return {LOOKUP_ERROR, gai_strerror(status)};
}

namespace {

constexpr unsigned char kEchoRequestType = 8;
constexpr unsigned char kEchoReplyType = 0;
constexpr size_t kIcmpHeaderLength = 8;
constexpr size_t kShortestIpHeader = 20;

uint16_t ReadBigEndian16(const unsigned char* bytes) {
    return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

void PutBigEndian16(uint16_t value, char* bytes) {
    bytes[0] = static_cast<char>(value >> 8);
    bytes[1] = static_cast<char>(value & 0xFF);
}

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

bool ReadEchoReply(const unsigned char* data, size_t length, bool with_ip_header,
                   ReceivedEcho* echo) {
    echo->Ttl = -1;
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
