// The live machine's kernel and resolver answers as the stand-in tools report
// them, on made-up answers: neighbour states, interface flags, the resolver's
// "no name", and echo replies as the two kinds of ICMP socket give them.
#include <linux/neighbour.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netdb.h>

#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "live/kernel_answers.h"

namespace {

TEST(LiveNeighbours, ResolvedEntriesAreDynamicFixedOnesStaticOthersNotListed) {
    const struct {
        unsigned state;
        NeighbourListing listing;
    } cases[] = {
        {NUD_REACHABLE, NEIGHBOUR_DYNAMIC},   {NUD_STALE, NEIGHBOUR_DYNAMIC},
        {NUD_DELAY, NEIGHBOUR_DYNAMIC},       {NUD_PROBE, NEIGHBOUR_DYNAMIC},
        {NUD_PERMANENT, NEIGHBOUR_STATIC},    {NUD_NOARP, NEIGHBOUR_STATIC},
        {NUD_INCOMPLETE, NEIGHBOUR_NOT_LISTED}, {NUD_FAILED, NEIGHBOUR_NOT_LISTED},
        {NUD_NONE, NEIGHBOUR_NOT_LISTED},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ListingOfNeighbourState(c.state), c.listing) << "state 0x" << std::hex << c.state;
    }
}

TEST(LiveInterfaces, EthernetAdaptersShowConnectedOnlyWhenUpWithCarrier) {
    const struct {
        unsigned flags;
        unsigned type;
        size_t length;
        bool adapter;
        bool connected;
    } cases[] = {
        {IFF_UP | IFF_RUNNING, ARPHRD_ETHER, 6, true, true},
        {IFF_UP, ARPHRD_ETHER, 6, true, false},       // no carrier
        {IFF_RUNNING, ARPHRD_ETHER, 6, true, false},  // taken down
        {0, ARPHRD_ETHER, 6, true, false},
        {IFF_UP | IFF_RUNNING | IFF_LOOPBACK, ARPHRD_LOOPBACK, 6, false, true},
        {IFF_UP | IFF_RUNNING, ARPHRD_NONE, 0, false, true},  // a tunnel
        {IFF_UP | IFF_RUNNING, ARPHRD_TUNNEL, 4, false, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ListsAsAdapter(c.flags, c.type, c.length), c.adapter) << c.flags << " " << c.type;
        EXPECT_EQ(IsConnectedInterface(c.flags), c.connected) << c.flags;
    }
}

TEST(LiveInterfaces, MacAndInterfaceOfAnAddressLabel) {
    const unsigned char bytes[] = {0x02, 0x18, 0x00, 0xab, 0x0c, 0xff};
    EXPECT_EQ(MacText(bytes, sizeof bytes), "02-18-00-AB-0C-FF");
    EXPECT_EQ(InterfaceOfLabel("eth0:1"), "eth0");
    EXPECT_EQ(InterfaceOfLabel("eth0"), "eth0");
}

TEST(LiveResolver, NoNameIsNotAnErrorButEveryOtherFailureIs) {
    const struct {
        int status;
        int system_error;
        ReverseLookupKind kind;
        const char* text;
    } cases[] = {
        {0, 0, LOOKUP_NAME, "alpha"},
        {EAI_NONAME, 0, LOOKUP_NO_NAME, ""},
        {EAI_AGAIN, 0, LOOKUP_ERROR, gai_strerror(EAI_AGAIN)},
        {EAI_SYSTEM, ECONNREFUSED, LOOKUP_ERROR, "Connection refused"},
    };
    for (const auto& c : cases) {
        const ReverseLookup lookup = ReadReverseLookup(c.status, "alpha", c.system_error);
        EXPECT_EQ(lookup.Kind, c.kind) << c.status;
        EXPECT_EQ(lookup.Text, c.text) << c.status;
    }
}

// The request as its reply comes back: type 0, the checksum left as it was.
std::string AsReply(std::string packet) {
    packet[0] = 0;
    return packet;
}

const unsigned char* Bytes(const std::string& text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

TEST(LiveEcho, RequestChecksumsToZero) {
    const std::string packet = EchoRequestPacket(0x1234, 7, "abc");  // odd length
    uint32_t sum = 0;
    for (size_t i = 0; i < packet.size(); i += 2) {
        sum += static_cast<uint32_t>(Bytes(packet)[i] << 8) |
               (i + 1 < packet.size() ? Bytes(packet)[i + 1] : 0);
    }
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    EXPECT_EQ(sum, 0xFFFFu);
}

TEST(LiveEcho, ReplyFromEitherSocketKindAndTtlFromTheIpHeader) {
    const std::string icmp = AsReply(EchoRequestPacket(0x1234, 7, "payload"));
    std::string ip_header(20, '\0');
    ip_header[0] = 0x45;  // version 4, five 32-bit words
    ip_header[8] = 61;    // TTL
    ReceivedEcho echo{};
    ASSERT_TRUE(ReadEchoReply(Bytes(ip_header + icmp), ip_header.size() + icmp.size(), true, &echo));
    EXPECT_EQ(echo.Identifier, 0x1234);
    EXPECT_EQ(echo.Sequence, 7);
    EXPECT_EQ(echo.Payload, "payload");
    EXPECT_EQ(echo.Ttl, 61);
    ASSERT_TRUE(ReadEchoReply(Bytes(icmp), icmp.size(), false, &echo));
    EXPECT_EQ(echo.Ttl, -1);  // a datagram socket gives it apart
    const std::string request = EchoRequestPacket(0x1234, 7, "payload");
    EXPECT_FALSE(ReadEchoReply(Bytes(request), request.size(), false, &echo));
    EXPECT_FALSE(ReadEchoReply(Bytes(icmp), 7, false, &echo));  // cut short
    EXPECT_FALSE(ReadEchoReply(Bytes(ip_header + icmp), 19, true, &echo));
}

}  // namespace
