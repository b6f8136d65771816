// NetBIOS name service packets on made-up bytes: the two requests as they go
// out, the two answers read against their request (cut short, oversized
// counts, group names only, answers to another request), and where a name
// query is broadcast.
#include <net/if.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "live/netbios/netbios.h"
#include "live/netbios/netbios_packets.h"

namespace {

using namespace std::string_literals;

const unsigned char* Bytes(const std::string& text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

// A response header with one answer record of a type, after a name label.
std::string Answer(uint16_t id, const std::string& flags, const std::string& label,
                   const std::string& type, const std::string& data) {
    const std::string length{static_cast<char>(data.size() >> 8), static_cast<char>(data.size())};
    return std::string{static_cast<char>(id >> 8), static_cast<char>(id)} + flags +
           "\0\0\0\1\0\0\0\0"s + static_cast<char>(label.size()) + label + '\0' + type +
           "\0\1\0\0\0\0"s + length + data;
}

const std::string kStar = "CKAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA";
const std::string kPcSales1 = "FAEDCNFDEBEMEFFDDBCACACACACACAAA";  // "PC-SALES1", suffix 0x00

TEST(NetBiosRequests, NameInUpperCaseCutOrPaddedTo15BeforeItsSuffix) {
    EXPECT_EQ(NodeStatusRequest(0x1234),
              "\x12\x34\0\0\0\1\0\0\0\0\0\0\x20"s + kStar + "\0\0\x21\0\1"s);
    const struct {
        const char* name;
        std::string label;
    } cases[] = {
        {"pc-sales1", kPcSales1},
        {"ABCDEFGHIJKLMNOPQ", "EBECEDEEEFEGEHEIEJEKELEMENEOEPAA"},
        {"\x83\x61", "IDGBCACACACACACACACACACACACACAAA"},  // a code page 932 character stays
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NameQueryRequest(0xBEEF, c.name, 0x00),
                  "\xBE\xEF\x01\x10\0\1\0\0\0\0\0\0\x20"s + c.label + "\0\0\x20\0\1"s)
            << c.name;
    }
}

TEST(NetBiosNames, ControlBytesShowAsQuestionMarksOthersAsTheyCame) {
    EXPECT_EQ(PrintableName("A\r\nB\x7F\t\0"s), "A??B???");
    EXPECT_EQ(PrintableName("PC-1 \x83\x41~"), "PC-1 \x83\x41~");
}

// A name table entry: 15 characters, the suffix, the flags.
std::string Entry(const std::string& name, char suffix, const std::string& flags) {
    return name + std::string(15 - name.size(), ' ') + suffix + flags;
}

TEST(NetBiosNodeStatus, TableAndUnitIdOfTheAnswerToThisRequestOnly) {
    const std::string kUnitId = "\x02\x18\0\0\0\x03"s;
    const std::string table = "\4"s + Entry("QARVIK", 0, "\x84\0"s) + Entry("ALPHA", 0x20, "\4\0"s) +
                              Entry("ALPHA", 0, "\4\0"s) + Entry("ALPHA", 3, "\x14\0"s) + kUnitId;
    const std::string groups = "\1"s + Entry("QARVIK", 0, "\x84\0"s) + kUnitId;
    const std::string answer = Answer(7, "\x84\0"s, kStar, "\0\x21"s, table + std::string(40, '\0'));
    const struct {
        const char* what;
        std::string packet;
        PacketReading reading;
        const char* computer;  // nullptr: none
    } cases[] = {
        {"answer", answer, PACKET_ANSWER, "ALPHA"},
        {"group names only", Answer(7, "\x84\0"s, kStar, "\0\x21"s, groups), PACKET_ANSWER, nullptr},
        {"unit ID cut short", Answer(7, "\x84\0"s, kStar, "\0\x21"s, table.substr(0, table.size() - 1)),
         PACKET_MALFORMED, nullptr},
        {"oversized count", Answer(7, "\x84\0"s, kStar, "\0\x21"s, "\x05"s + table.substr(1)),
         PACKET_MALFORMED, nullptr},
        {"data length past the end", answer.substr(0, 60), PACKET_MALFORMED, nullptr},
        {"header only", answer.substr(0, 12), PACKET_MALFORMED, nullptr},
        {"another transaction", Answer(8, "\x84\0"s, kStar, "\0\x21"s, table), PACKET_OTHER_REQUEST,
         nullptr},
        {"a request", Answer(7, "\x04\0"s, kStar, "\0\x21"s, table), PACKET_OTHER_REQUEST, nullptr},
        {"a registration answer", Answer(7, "\xAC\0"s, kStar, "\0\x21"s, table), PACKET_OTHER_REQUEST,
         nullptr},
        {"a name query answer", Answer(7, "\x84\0"s, kStar, "\0\x20"s, table), PACKET_OTHER_REQUEST,
         nullptr},
        {"negative", Answer(7, "\x84\3"s, kStar, "\0\x21"s, table), PACKET_NEGATIVE, nullptr},
    };
    for (const auto& c : cases) {
        NodeStatus status{};
        EXPECT_EQ(ReadNodeStatusResponse(Bytes(c.packet), c.packet.size(), 7, &status), c.reading)
            << c.what;
        std::string name;
        EXPECT_EQ(ComputerNameOf(status, &name), c.computer != nullptr) << c.what;
        if (c.computer != nullptr) {
            EXPECT_EQ(name, c.computer) << c.what;
        }
    }
    NodeStatus status{};
    ASSERT_EQ(ReadNodeStatusResponse(Bytes(answer), answer.size(), 7, &status), PACKET_ANSWER);
    ASSERT_EQ(status.Names.size(), 4u);
    EXPECT_TRUE(status.Names[0].Group);
    EXPECT_EQ(status.Names[1].Suffix, 0x20);
    EXPECT_EQ(status.Names[3].State, NAME_DEREGISTERED);
    EXPECT_EQ(std::string(status.UnitId.begin(), status.UnitId.end()), kUnitId);
}

TEST(NetBiosNameQuery, AddressesOfThePositiveAnswerForThisName) {
    const std::string two = "\0\0\xC6\x12\0\x07\x80\0\xC6\x12\0\x08"s;
    const struct {
        const char* what;
        std::string packet;
        PacketReading reading;
        std::vector<uint32_t> addresses;
    } cases[] = {
        {"answer", Answer(9, "\x85\0"s, kPcSales1, "\0\x20"s, two), PACKET_ANSWER,
         {0xC6120007, 0xC6120008}},
        {"another name", Answer(9, "\x85\0"s, kStar, "\0\x20"s, two), PACKET_OTHER_REQUEST, {}},
        {"another transaction", Answer(10, "\x85\0"s, kPcSales1, "\0\x20"s, two),
         PACKET_OTHER_REQUEST, {}},
        {"negative", Answer(9, "\x85\3"s, kPcSales1, "\0\x20"s, ""), PACKET_NEGATIVE, {}},
        {"part of an address", Answer(9, "\x85\0"s, kPcSales1, "\0\x20"s, two.substr(0, 7)),
         PACKET_MALFORMED, {}},
        {"no address", Answer(9, "\x85\0"s, kPcSales1, "\0\x20"s, ""), PACKET_MALFORMED, {}},
        {"compressed name", Answer(9, "\x85\0"s, "", "\0\x20"s, two).replace(12, 1, "\xC0"),
         PACKET_MALFORMED, {}},
    };
    for (const auto& c : cases) {
        std::vector<uint32_t> addresses;
        EXPECT_EQ(ReadNameQueryResponse(Bytes(c.packet), c.packet.size(), 9, "pc-sales1", 0,
                                        &addresses),
                  c.reading)
            << c.what;
        EXPECT_EQ(addresses, c.addresses) << c.what;
    }
}

TEST(NetBiosNameQuery, BroadcastOncePerSubnetOfConnectedInterfacesButLoopback) {
    const unsigned kConnected = IFF_UP | IFF_RUNNING;
    const std::vector<LiveInterface> interfaces = {
        {"lo", 1, kConnected | IFF_LOOPBACK, 772, "", {0x7F000001}, {0xFF000000}},
        {"q0", 2, IFF_UP, 1, "", {0x0A000001}, {0xFFFFFF00}},  // no carrier
        {"q1", 3, kConnected, 1, "", {0xC6120001, 0xC6120002, 0xC0A80105}, {0xFFFFFF00, 0xFFFFFF00, 0xFFFF0000}},
        {"p2p", 4, kConnected, 1, "", {0x0A010101}, {0xFFFFFFFE}},  // a /31 has no broadcast
    };
    EXPECT_EQ(BroadcastTargets(interfaces), (std::vector<uint32_t>{0xC61200FF, 0xC0A8FFFF}));
}

}  // namespace
