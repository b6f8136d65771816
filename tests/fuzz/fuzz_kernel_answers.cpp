// The live machine's readers of kernel answers on arbitrary bytes. Input: a
// mode byte, eight bytes of the request, then the datagram: a neighbour dump's
// (mode bit 0 clear; read also as an answer about the table's size) or an
// ICMP one held against an echo request.
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>

#include <cstdint>
#include <string>
#include <vector>

#include "live/kernel/icmp_answers.h"
#include "live/kernel/netlink_answers.h"

#define CHECK(condition)                     \
    do {                                     \
        if (!(condition)) __builtin_trap();  \
    } while (0)

namespace {

uint32_t Read32(const uint8_t* bytes) {
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
}

// Mode bit 1: the datagram came from a port other than the kernel's. An entry
// takes at least a message header, an ndmsg and its NDA_DST.
void FuzzNeighbourDump(uint8_t mode, const uint8_t* request, const uint8_t* data, size_t size) {
    const uint32_t sender = (mode & 2) != 0 ? 4242 : 0;
    std::vector<NeighbourEntry> entries;
    std::string error;
    const NeighbourDumpPart part =
        ReadNeighbourDumpPart(data, size, sender, {Read32(request), Read32(request + 4)}, &entries, &error);
    CHECK((part == DUMP_FAILED) == !error.empty());
    if (sender != 0) CHECK(part == DUMP_GOES_ON && entries.empty());
    CHECK(entries.size() * (NLMSG_LENGTH(sizeof(ndmsg)) + RTA_LENGTH(4)) <= size);
    // The same bytes as an answer about the table's size: a limit only with a whole message.
    NeighbourTableSize table;
    const NeighbourDumpPart size_part =
        ReadNeighbourTableSizePart(data, size, sender, {Read32(request), Read32(request + 4)}, &table, &error);
    CHECK(size_part == part);  // one walk of the messages, whatever they hold
    CHECK(table.Limit >= 0 && table.Entries >= 0);
    if (table.Limit > 0) CHECK(size >= NLMSG_LENGTH(sizeof(ndtmsg)) + RTA_LENGTH(4));
}

// Mode bit 1: a raw socket, with the IP header in front; bit 2: no TTL handed
// over. The reply made from the request itself must always match.
void FuzzEchoReply(uint8_t mode, const uint8_t* request, const uint8_t* data, size_t size) {
    const bool raw = (mode & 2) != 0;
    const int control_ttl = (mode & 4) != 0 ? kUnknownTtl : 64;
    const uint32_t numbers = Read32(request + 4);
    const EchoQuery query{Read32(request), static_cast<uint16_t>(numbers >> 16),
                          static_cast<uint16_t>(numbers), "abcdefgh"};
    int ttl = 0;
    if (MatchEchoReply(query, query.Address, data, size, raw, control_ttl, &ttl)) {
        CHECK(raw ? ttl >= 0 && ttl <= 255 : ttl == control_ttl);
    }
    CHECK(!MatchEchoReply(query, query.Address ^ 1, data, size, raw, control_ttl, &ttl));
    std::string reply = EchoRequestPacket(query.Identifier, query.Sequence, query.Payload);
    reply[0] = 0;  // an echo reply
    if (raw) reply = std::string("\x45\0\0\0\0\0\0\0\x40", 9) + std::string(11, '\0') + reply;
    CHECK(MatchEchoReply(query, query.Address, reinterpret_cast<const uint8_t*>(reply.data()),
                         reply.size(), raw, control_ttl, &ttl));
    CHECK(ttl == (raw ? 64 : control_ttl));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 9) return 0;
    if ((data[0] & 1) == 0) FuzzNeighbourDump(data[0], data + 1, data + 9, size - 9);
    else FuzzEchoReply(data[0], data + 1, data + 9, size - 9);
    return 0;
}
