#include "live/kernel_answers.h"

#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netdb.h>

#include <cerrno>
#include <cstdio>
#include <algorithm>
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

std::string NameOfReverseLookup(int status, const char* name) {
    return status == 0 ? name : "";
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

// ---------------------------------------------------------------------------
// The kernel's neighbour table, as netlink messages. Every record is copied
// out of the bytes before it is read, so no read depends on their alignment.

namespace {

// A record of type T at offset, when the bytes up to end hold one.
template <typename T>
bool CopyRecord(const unsigned char* data, size_t offset, size_t end, T* record) {
    if (offset > end || end - offset < sizeof(T)) return false;
    std::memcpy(record, data + offset, sizeof(T));
    return true;
}

// The attributes of an RTM_NEWNEIGH message between offset and end; false
// when one is cut short or the entry has no IPv4 destination.
bool ReadNeighbourAttributes(const unsigned char* data, size_t offset, size_t end,
                             NeighbourEntry* entry) {
    bool have_address = false;
    rtattr attribute;
    while (CopyRecord(data, offset, end, &attribute)) {
        if (attribute.rta_len < sizeof attribute || attribute.rta_len > end - offset) return false;
        const unsigned char* value = data + offset + RTA_LENGTH(0);
        const size_t size = attribute.rta_len - RTA_LENGTH(0);
        if (attribute.rta_type == NDA_DST && size == sizeof(in_addr)) {
            entry->Address = (uint32_t{value[0]} << 24) | (uint32_t{value[1]} << 16) |
                             (uint32_t{value[2]} << 8) | value[3];
            have_address = true;
        } else if (attribute.rta_type == NDA_LLADDR) {
            entry->HardwareAddress.assign(reinterpret_cast<const char*>(value), size);
        }
        offset += RTA_ALIGN(attribute.rta_len);
    }
    return have_address && offset >= end;
}

// One RTM_NEWNEIGH message from offset to end; false for anything but a
// whole IPv4 entry.
bool ReadNeighbourMessage(const unsigned char* data, size_t offset, size_t end,
                          NeighbourEntry* entry) {
    ndmsg neighbour;
    if (!CopyRecord(data, offset + NLMSG_HDRLEN, end, &neighbour) || neighbour.ndm_family != AF_INET) {
        return false;
    }
    entry->InterfaceIndex = static_cast<unsigned>(neighbour.ndm_ifindex);
    entry->State = neighbour.ndm_state;
    return ReadNeighbourAttributes(data, offset + NLMSG_LENGTH(sizeof neighbour), end, entry);
}

// Error records carry a negative errno, which stays below this.
constexpr int kLargestErrno = 4096;
// Table limits and counts beyond this read as this, so that no sum of them overflows an int.
constexpr uint32_t kLargestTableCount = 1u << 24;

}  // namespace

std::string SystemFailure(const std::string& what, int error_number) {
    return what + ": " + std::strerror(error_number);
}

namespace {

// What a message of the request asked for gives, between offset and end.
using MessageReader = void (*)(const unsigned char* data, uint16_t type, size_t offset, size_t end,
                               void* into);

// Walks one datagram of the kernel's answer to request: each message of that
// request goes to read_message; the end of a dump, a refusal and a cut
// record end the walk.
NeighbourDumpPart WalkKernelAnswer(const unsigned char* data, size_t length, uint32_t sender,
                                   const NetlinkRequest& request, MessageReader read_message,
                                   void* into, std::string* error, int* refusal) {
    if (sender != 0) return DUMP_GOES_ON;  // only the kernel answers
    size_t offset = 0;
    nlmsghdr header;
    while (CopyRecord(data, offset, length, &header)) {
        if (header.nlmsg_len < sizeof header || header.nlmsg_len > length - offset) {
            *error = "the kernel's neighbour table came cut short";
            return DUMP_FAILED;
        }
        const size_t end = offset + header.nlmsg_len;
        if (header.nlmsg_seq == request.Sequence && header.nlmsg_pid == request.PortId) {
            if (header.nlmsg_type == NLMSG_DONE) return DUMP_DONE;
            if (header.nlmsg_type == NLMSG_ERROR) {
                nlmsgerr failure;
                if (!CopyRecord(data, offset + NLMSG_HDRLEN, end, &failure)) {
                    *error = "the kernel's error record came cut short";
                    return DUMP_FAILED;
                }
                // Error 0 acknowledges a request that asked for it, and ends
                // the answer as NLMSG_DONE ends a dump.
                if (failure.error != 0) {
                    const bool is_errno = failure.error < 0 && failure.error > -kLargestErrno;
                    const int number = is_errno ? -failure.error : EPROTO;
                    *error = SystemFailure("the kernel refused its neighbour table", number);
                    if (refusal != nullptr) *refusal = number;
                    return DUMP_FAILED;
                }
                if (refusal != nullptr) *refusal = 0;
                return DUMP_DONE;
            }
            read_message(data, header.nlmsg_type, offset, end, into);
        }
        offset += NLMSG_ALIGN(header.nlmsg_len);
    }
    return DUMP_GOES_ON;
}

void ReadEntryMessage(const unsigned char* data, uint16_t type, size_t offset, size_t end, void* into) {
    NeighbourEntry entry{};
    if (type == RTM_NEWNEIGH && ReadNeighbourMessage(data, offset, end, &entry)) {
        static_cast<std::vector<NeighbourEntry>*>(into)->push_back(entry);
    }
}

// The attributes of the IPv4 table's RTM_NEWNEIGHTBL message: its name, its
// hard limit and its configuration, which counts the entries. Messages of
// the table's per-namespace parameters carry neither and give nothing.
void ReadTableSizeMessage(const unsigned char* data, uint16_t type, size_t offset, size_t end,
                          void* into) {
    ndtmsg table;
    if (type != RTM_NEWNEIGHTBL || !CopyRecord(data, offset + NLMSG_HDRLEN, end, &table) ||
        table.ndtm_family != AF_INET) {
        return;
    }
    NeighbourTableSize read;
    bool is_arp_table = false;
    offset += NLMSG_LENGTH(sizeof table);
    rtattr attribute;
    while (CopyRecord(data, offset, end, &attribute)) {
        if (attribute.rta_len < sizeof attribute || attribute.rta_len > end - offset) return;
        const size_t value = offset + RTA_LENGTH(0);
        const size_t value_end = offset + attribute.rta_len;
        uint32_t threshold = 0;
        ndt_config config;
        if (attribute.rta_type == NDTA_NAME) {
            is_arp_table = std::string(reinterpret_cast<const char*>(data + value),
                                       value_end - value) == std::string("arp_cache", 10);
        } else if (attribute.rta_type == NDTA_THRESH3 && CopyRecord(data, value, value_end, &threshold)) {
            read.Limit = static_cast<int>(std::min<uint32_t>(threshold, kLargestTableCount));
        } else if (attribute.rta_type == NDTA_CONFIG && CopyRecord(data, value, value_end, &config)) {
            read.Entries = static_cast<int>(std::min<uint32_t>(config.ndtc_entries, kLargestTableCount));
        }
        offset += RTA_ALIGN(attribute.rta_len);
    }
    if (is_arp_table && read.Limit > 0) *static_cast<NeighbourTableSize*>(into) = read;
}

}  // namespace

NeighbourDumpPart ReadNeighbourDumpPart(const unsigned char* data, size_t length, uint32_t sender,
                                        const NetlinkRequest& request,
                                        std::vector<NeighbourEntry>* entries, std::string* error,
                                        int* refusal) {
    return WalkKernelAnswer(data, length, sender, request, ReadEntryMessage, entries, error, refusal);
}

NeighbourDumpPart ReadNeighbourTableSizePart(const unsigned char* data, size_t length,
                                             uint32_t sender, const NetlinkRequest& request,
                                             NeighbourTableSize* size, std::string* error) {
    return WalkKernelAnswer(data, length, sender, request, ReadTableSizeMessage, size, error, nullptr);
}
