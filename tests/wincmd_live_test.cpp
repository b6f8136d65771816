// The live machine's kernel and resolver answers as the stand-in tools report
// them, on made-up answers: neighbour states, interface flags, the resolver's
// answers, echo replies as the two kinds of ICMP socket give them, and the
// datagrams of a neighbour dump.
#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "live/kernel/icmp_answers.h"
#include "live/kernel/interfaces.h"
#include "live/kernel/netlink_answers.h"
#include "live/kernel/resolver.h"
#include "live/kernel/socket.h"
#include "live/room/probe_record.h"
#include "test_support.h"

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

// arp takes an entry only as an answer to this run's probe, which began 30
// ticks before arp asked: confirmed since (ages are whole ticks, so up to two
// before counts), or backed by an echo reply; a permanent entry always is.
TEST(LiveNeighbours, AnEntryAnswersTheProbeOnlyWhenConfirmedSinceOrEchoed) {
    constexpr int64_t kTick = 10'000'000;
    constexpr int64_t kStart = 1'000 * kTick;
    const struct {
        unsigned state;
        bool echoed;
        int64_t confirmed_ticks_ago;
        bool answers;
    } cases[] = {
        {NUD_STALE, false, 530, false},     // left from an earlier run
        {NUD_REACHABLE, false, 530, false}, // still reachable, but from before
        {NUD_STALE, true, 530, true},       // the host answered the echo
        {NUD_REACHABLE, false, 5, true},    // resolved during the probe
        {NUD_REACHABLE, false, 32, true},   // within the ticks' rounding
        {NUD_REACHABLE, false, 33, false},
        {NUD_DELAY, false, -1, false},      // no age in the answer
        {NUD_PERMANENT, false, 530, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.state) + " " + std::to_string(c.confirmed_ticks_ago));
        const ProbeRecord probe{kStart, c.echoed ? 1 : 0, 0};
        EXPECT_EQ(AnswersProbe(probe, c.state, c.confirmed_ticks_ago, kStart + 30 * kTick, kTick),
                  c.answers);
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

TEST(LiveResolver, OnlyASuccessfulLookUpGivesAName) {
    const int statuses[] = {EAI_NONAME, EAI_AGAIN, EAI_FAIL, EAI_SYSTEM, EAI_MEMORY};
    EXPECT_EQ(NameOfReverseLookup(0, "alpha"), "alpha");
    for (int status : statuses) EXPECT_EQ(NameOfReverseLookup(status, "alpha"), "") << status;
}

TEST(LiveResolver, NameWaitIsTheEchoTimeOutWhenGivenElseASecond) {
    EXPECT_EQ(NameTimeoutMs(false, 4000), 1000u);
    EXPECT_EQ(NameTimeoutMs(true, 300), 300u);
}

TEST(LiveResolver, ALookUpPastItsDeadlineGivesNoNameAndEndsHarmlessly) {
    const auto now = PendingName::Clock::now;
    EXPECT_EQ(PendingName::Start([] { return "alpha"; }).AwaitUntil(now() + std::chrono::seconds(5)),
              "alpha");
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    {
        PendingName stuck = PendingName::Start([released] {
            released.wait();
            return std::string("late");
        });
        EXPECT_EQ(stuck.AwaitUntil(now() + std::chrono::milliseconds(20)), "");
    }
    // The waiter is gone; the sanitizer build sees any touch of freed memory.
    release.set_value();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
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

TEST(LiveEcho, OnlyTheReplyToTheRequestMatchesWithItsTtl) {
    const EchoQuery query{0xC6120003, 0x1234, 7, "payload"};
    const uint32_t from = query.Address;
    const std::string reply = AsReply(EchoRequestPacket(0x1234, 7, "payload"));
    std::string ip_header(20, '\0');
    ip_header[0] = 0x45;  // version 4, five 32-bit words
    ip_header[8] = 61;    // TTL
    const struct {
        const char* name; std::string data; bool raw; uint32_t source; int control_ttl;
        bool matched; int ttl;
    } cases[] = {
        {"datagram socket", reply, false, from, 64, true, 64},
        {"no TTL handed over", reply, false, from, kUnknownTtl, true, kUnknownTtl},
        {"raw socket", ip_header + reply, true, from, kUnknownTtl, true, 61},
        {"wrong source", reply, false, from + 1, 64, false, 0},
        {"stale sequence", AsReply(EchoRequestPacket(0x1234, 6, "payload")), false, from, 64, false, 0},
        {"foreign identifier", AsReply(EchoRequestPacket(0x4321, 7, "payload")), false, from, 64, false, 0},
        {"foreign payload", AsReply(EchoRequestPacket(0x1234, 7, "PAYLOAD")), false, from, 64, false, 0},
        {"a request", EchoRequestPacket(0x1234, 7, "payload"), false, from, 64, false, 0},
        {"cut short", reply.substr(0, 7), false, from, 64, false, 0},
        {"cut IP header", (ip_header + reply).substr(0, 19), true, from, 64, false, 0},
    };
    for (const auto& c : cases) {
        int ttl = 0;
        EXPECT_EQ(MatchEchoReply(query, c.source, Bytes(c.data), c.data.size(), c.raw, c.control_ttl, &ttl),
                  c.matched) << c.name;
        EXPECT_EQ(ttl, c.ttl) << c.name;
    }
}

// Netlink records as the kernel writes them: a header, its body, padding.
template <typename T>
std::string Record(const T& header, const std::string& body) {
    std::string bytes = std::string(reinterpret_cast<const char*>(&header), sizeof header) + body;
    return bytes + std::string((4 - bytes.size() % 4) % 4, '\0');
}

std::string Message(uint16_t type, const std::string& body, uint32_t sequence = 5, uint32_t port = 77) {
    return Record(nlmsghdr{static_cast<uint32_t>(NLMSG_HDRLEN + body.size()), type, 0, sequence, port}, body);
}

std::string Attribute(uint16_t type, const std::string& value) {
    return Record(rtattr{static_cast<unsigned short>(RTA_LENGTH(value.size())), type}, value);
}

// An RTM_NEWNEIGH message of 198.18.0.N with the MAC 02-18-00-00-00-N.
std::string Entry(char n, uint32_t sequence = 5, uint32_t port = 77, const std::string& more = "") {
    const std::string attributes = Attribute(NDA_DST, std::string("\xC6\x12\x00", 3) + n) +
                                   Attribute(NDA_LLADDR, std::string("\x02\x18\0\0\0", 5) + n) + more;
    return Message(RTM_NEWNEIGH, Record(ndmsg{AF_INET, 0, 0, 2, NUD_REACHABLE, 0, 0}, attributes),
                   sequence, port);
}

TEST(LiveNeighbourDump, EntriesOfThisRequestFromTheKernelOnly) {
    const std::string done = Message(NLMSG_DONE, std::string(4, '\0'));
    const std::string refusal = Message(NLMSG_ERROR, Record(nlmsgerr{-EPERM, {}}, ""));
    const std::string cut_attribute = Record(rtattr{100, NDA_PROBES}, "");  // claims 100 bytes
    const struct {
        const char* name; std::string data; uint32_t sender; NeighbourDumpPart part;
        const char* entries;  // the last bytes of their addresses
        const char* error;
    } cases[] = {
        {"two entries", Entry(3) + Entry(4), 0, DUMP_GOES_ON, "\x03\x04", ""},
        {"then done", Entry(3) + done + Entry(4), 0, DUMP_DONE, "\x03", ""},
        {"not from the kernel", Entry(3) + done, 1234, DUMP_GOES_ON, "", ""},
        {"stale sequence", Entry(3, 4) + Entry(4), 0, DUMP_GOES_ON, "\x04", ""},
        {"other port", Entry(3, 5, 78) + Entry(4), 0, DUMP_GOES_ON, "\x04", ""},
        {"truncated attribute", Entry(3, 5, 77, cut_attribute) + Entry(4), 0, DUMP_GOES_ON, "\x04", ""},
        {"cut message", Entry(3) + Entry(4).substr(0, 30), 0, DUMP_FAILED, "\x03",
         "the kernel's neighbour table came cut short"},
        {"refusal", refusal, 0, DUMP_FAILED, "", "the kernel refused its neighbour table: Operation not permitted"},
        {"short error record", Message(NLMSG_ERROR, "\xff\xff\xff"), 0, DUMP_FAILED, "",
         "the kernel's error record came cut short"},
    };
    for (const auto& c : cases) {
        std::vector<NeighbourEntry> entries;
        std::string error, read;
        EXPECT_EQ(ReadNeighbourDumpPart(Bytes(c.data), c.data.size(), c.sender, {5, 77}, &entries, &error),
                  c.part) << c.name;
        for (const NeighbourEntry& entry : entries) {
            read += static_cast<char>(entry.Address & 0xFF);
            EXPECT_EQ(entry.HardwareAddress, std::string("\x02\x18\0\0\0", 5) + read.back()) << c.name;
        }
        EXPECT_EQ(read, c.entries) << c.name;
        EXPECT_EQ(error, c.error) << c.name;
    }
}

TEST(LiveNeighbourDump, ARefusalGivesTheKernelsErrorNumber) {
    const std::string none = Message(NLMSG_ERROR, Record(nlmsgerr{-ENOENT, {}}, ""));
    std::vector<NeighbourEntry> entries;
    std::string error;
    int refusal = 0;
    EXPECT_EQ(ReadNeighbourDumpPart(Bytes(none), none.size(), 0, {5, 77}, &entries, &error, &refusal),
              DUMP_FAILED);
    EXPECT_EQ(refusal, ENOENT);
}

bool IsOpenDescriptor(int descriptor) { return fcntl(descriptor, F_GETFD) != -1; }

TEST(LiveSocket, AMovedSocketHasOneOwnerThatClosesItOnce) {
    std::string error;
    int descriptor = -1;
    {
        Socket first = Socket::Open(AF_INET, SOCK_DGRAM, 0, "a UDP socket", &error);
        ASSERT_TRUE(first.IsOpen()) << error;
        descriptor = first.Descriptor();
        Socket second(std::move(first));
        EXPECT_FALSE(first.IsOpen());
        EXPECT_EQ(second.Descriptor(), descriptor);
        Socket third;
        third = std::move(second);
        EXPECT_FALSE(second.IsOpen());
        EXPECT_TRUE(IsOpenDescriptor(descriptor));
    }
    EXPECT_FALSE(IsOpenDescriptor(descriptor));
}

TEST(LiveSocket, AssigningOverAnOpenSocketClosesTheOldOne) {
    std::string error;
    Socket kept = Socket::Open(AF_INET, SOCK_DGRAM, 0, "a UDP socket", &error);
    Socket replaced = Socket::Open(AF_INET, SOCK_DGRAM, 0, "a UDP socket", &error);
    ASSERT_TRUE(kept.IsOpen() && replaced.IsOpen()) << error;
    const int old_descriptor = replaced.Descriptor();
    replaced = std::move(kept);
    EXPECT_FALSE(IsOpenDescriptor(old_descriptor));
    EXPECT_TRUE(IsOpenDescriptor(replaced.Descriptor()));
}

TEST(LiveSocket, WaitEndsAtTheDeadlineOrAsSoonAsThereIsSomethingToRead) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM, 0, pair), 0);
    const Socket reader(pair[0]);
    const Socket writer(pair[1]);
    std::string error;
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(WaitReadable(reader, start + std::chrono::milliseconds(50), "a test", &error),
              WAIT_DEADLINE);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(50));
    ASSERT_EQ(write(writer.Descriptor(), "x", 1), 1);
    const Clock::time_point sent = Clock::now();
    EXPECT_EQ(WaitReadable(reader, sent + std::chrono::seconds(30), "a test", &error),
              WAIT_READABLE);
    EXPECT_LT(Clock::now() - sent, std::chrono::seconds(10));
}

// A UDP request to a loopback port where nothing listens comes back as an
// ICMP port unreachable, which must read as "no answer", not as a failure.
TEST(LiveSocket, APortWithNothingBehindItIsUnreachable) {
    std::string error;
    Socket idle = Socket::Open(AF_INET, SOCK_DGRAM, 0, "a UDP socket", &error);
    ASSERT_TRUE(idle.IsOpen()) << error;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(idle.Descriptor(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(getsockname(idle.Descriptor(), reinterpret_cast<sockaddr*>(&address), &length), 0);
    idle = Socket();  // the port now has nothing behind it
    Socket asker = Socket::Open(AF_INET, SOCK_DGRAM, 0, "a UDP socket", &error);
    ASSERT_EQ(connect(asker.Descriptor(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(send(asker.Descriptor(), "x", 1, 0), 1);
    ASSERT_EQ(WaitReadable(asker, Clock::now() + std::chrono::seconds(10), "a test", &error),
              WAIT_READABLE);
    char byte = 0;
    ASSERT_LT(recv(asker.Descriptor(), &byte, 1, MSG_DONTWAIT), 0);
    EXPECT_TRUE(IsUnreachableError(errno)) << errno;
    EXPECT_FALSE(IsUnreachableError(EAGAIN));
    EXPECT_FALSE(IsUnreachableError(ENOBUFS));
}

TEST(LiveSocket, RandomBytesSetRequestsApart) {
    unsigned char first[16] = {};
    unsigned char second[16] = {};
    RandomBytes(first, sizeof first);
    RandomBytes(second, sizeof second);
    EXPECT_NE(std::string(first, first + 16), std::string(second, second + 16));
}

// The IPv4 table's RTM_NEWNEIGHTBL message: its name, its hard limit and its
// count of entries.
std::string TableInfo(const std::string& name, uint32_t limit, uint32_t entries,
                      unsigned char family = AF_INET) {
    ndt_config config{};
    config.ndtc_entries = entries;
    const std::string attributes =
        Attribute(NDTA_NAME, name + '\0') +
        Attribute(NDTA_THRESH3, std::string(reinterpret_cast<const char*>(&limit), sizeof limit)) +
        Attribute(NDTA_CONFIG, std::string(reinterpret_cast<const char*>(&config), sizeof config));
    return Message(RTM_NEWNEIGHTBL, Record(ndtmsg{family, 0, 0}, attributes));
}

TEST(LiveNeighbourTableSize, TheIpv4TablesLimitAndEntriesFromTheKernel) {
    const std::string done = Message(NLMSG_DONE, std::string(4, '\0'));
    const std::string parameters = Message(RTM_NEWNEIGHTBL, Record(ndtmsg{AF_INET, 0, 0},
                                                                   Attribute(NDTA_NAME, std::string("arp_cache", 10))));
    const struct {
        const char* name; std::string data; NeighbourDumpPart part; int limit, entries;
    } cases[] = {
        {"the table, then done", TableInfo("arp_cache", 1024, 300) + done, DUMP_DONE, 1024, 300},
        {"its parameters name no limit", TableInfo("arp_cache", 1024, 300) + parameters, DUMP_GOES_ON, 1024, 300},
        {"another family", TableInfo("ndisc_cache", 128, 7, AF_INET6), DUMP_GOES_ON, 0, 0},
        {"another table's name", TableInfo("arp_cache2", 128, 7), DUMP_GOES_ON, 0, 0},
        {"no limit", TableInfo("arp_cache", 0, 7), DUMP_GOES_ON, 0, 0},
        {"a limit too large for an int", TableInfo("arp_cache", 0xFFFFFFFF, 0xFFFFFFFF), DUMP_GOES_ON,
         1 << 24, 1 << 24},
    };
    for (const auto& c : cases) {
        NeighbourTableSize size;
        std::string error;
        EXPECT_EQ(ReadNeighbourTableSizePart(Bytes(c.data), c.data.size(), 0, {5, 77}, &size, &error),
                  c.part) << c.name;
        EXPECT_EQ(size.Limit, c.limit) << c.name;
        EXPECT_EQ(size.Entries, c.entries) << c.name;
    }
}

TEST(LiveNeighbourDump, AnAcknowledgementEndsTheAnswer) {
    const std::string ack = Message(NLMSG_ERROR, Record(nlmsgerr{0, {}}, ""));
    std::vector<NeighbourEntry> entries;
    std::string error;
    int refusal = -1;
    EXPECT_EQ(ReadNeighbourDumpPart(Bytes(ack), ack.size(), 0, {5, 77}, &entries, &error, &refusal),
              DUMP_DONE);
    EXPECT_EQ(refusal, 0);
}

// A request with no route is the report's business, as on Windows: the
// version's transmit-failure line for every request, nothing on standard
// error. In a network namespace of its own with no interface up, nothing can
// be sent anywhere.
TEST(LivePing, NoRouteGivesTheVersionsTransmitFailureInTheReport) {
    if (geteuid() != 0) GTEST_SKIP() << "a network namespace of its own needs root";
    const struct {
        const char* winver;
        const char* code_page;
        std::string line;
    } cases[] = {
        {"xp", "437", "Destination host unreachable."},
        {"10", "437", "PING: transmit failed. General failure."},
        {"10", "932", Cp932("PING: 転送に失敗しました。一般エラーです。")},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.winver) + " " + c.code_page);
        const std::string command =
            std::string("unshare -n env QARVIK_NETWORK=live QARVIK_WINVER=") + c.winver +
            " QARVIK_CODEPAGE=" + c.code_page + " '" + WINCMD_PATH +
            "' /c 'ping -n 2 -w 100 198.18.0.1' >'" + dir.File("out") + "' 2>'" +
            dir.File("err") + "'";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 1);
        const std::string out = ReadFileBytes(dir.File("out"));
        size_t lines = 0;
        for (size_t at = out.find(c.line + "\r\n"); at != std::string::npos;
             at = out.find(c.line + "\r\n", at + 1)) {
            ++lines;
        }
        EXPECT_EQ(lines, 2u) << out;
        EXPECT_EQ(ReadFileBytes(dir.File("err")), "");
    }
}

}  // namespace
