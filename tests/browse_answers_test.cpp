// Live net view on made-up answers: which name of a node-status answer lists
// its computer, the list those names make, and the addresses the sweep asks.
#include <net/if.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "live/netbios/browse_answers.h"

namespace {

NetBiosName Unique(const std::string& name, unsigned char suffix,
                   NetBiosNameState state = NAME_REGISTERED) {
    return {name, suffix, false, state};
}

NetBiosName Group(const std::string& name, unsigned char suffix) {
    return {name, suffix, true, NAME_REGISTERED};
}

NodeStatus TableOf(std::vector<NetBiosName> names) { return {std::move(names), {}}; }

TEST(LiveBrowseList, ComputerListedByItsFirstActiveUniqueServerName) {
    const struct {
        const char* what;
        NodeStatus answer;
        const char* listed;  // nullptr: not listed
    } cases[] = {
        {"no 0x20 name", TableOf({Unique("PC-1", 0x00), Unique("PC-1", 0x03), Group("WG", 0x00)}),
         nullptr},
        {"group 0x20 only", TableOf({Unique("PC-1", 0x00), Group("WG", 0x20)}), nullptr},
        {"after a group 0x20", TableOf({Group("WG", 0x20), Unique("PC-1", 0x00), Unique("SRV", 0x20)}),
         "SRV"},
        {"first of two", TableOf({Unique("ONE", 0x20), Unique("TWO", 0x20)}), "ONE"},
        {"in conflict, then released, then active",
         TableOf({Unique("A", 0x20, NAME_CONFLICT), Unique("B", 0x20, NAME_DEREGISTERED),
                  Unique("C", 0x20)}),
         "C"},
        {"blank", TableOf({Unique("", 0x20)}), nullptr},
        {"control bytes", TableOf({Unique("PC\r\n\x7F" "1", 0x20)}), "PC???1"},
        {"inner blank and code page 932 kept", TableOf({Unique("PC \x83\x41", 0x20)}), "PC \x83\x41"},
    };
    for (const auto& c : cases) {
        std::string name;
        EXPECT_EQ(ServerNameOf(c.answer, &name), c.listed != nullptr) << c.what;
        if (c.listed != nullptr) {
            EXPECT_EQ(name, c.listed) << c.what;
        }
    }
}

TEST(LiveBrowseList, EachServerNameOnceSortedWhateverTheCase) {
    const std::vector<NodeStatus> answers = {
        TableOf({Unique("gamma", 0x20)}),
        TableOf({Unique("BETA", 0x20)}),
        TableOf({Unique("NO-SERVER", 0x00)}),
        TableOf({Unique("Alpha", 0x20)}),
        TableOf({Unique("BETA", 0x20)}),  // two computers with one name
        TableOf({Unique("alpha", 0x20)}),
        TableOf({Unique("ALPHA2", 0x20)}),
        TableOf({Unique("\x83\x61", 0x20)}),  // two code page 932 characters, not one in two cases
        TableOf({Unique("\x83\x41", 0x20)}),
    };
    EXPECT_EQ(BrowseNames(answers), (std::vector<std::string>{"Alpha", "ALPHA2", "BETA", "gamma",
                                                              "\x83\x41", "\x83\x61"}));
}

TEST(LiveBrowseList, SweepsEachConnectedSubnetOnceWideOnesInTheirSlash20) {
    const unsigned kConnected = IFF_UP | IFF_RUNNING;
    const struct {
        const char* what;
        LiveInterface interface;
        size_t count;
        uint32_t first;
        uint32_t last;
    } cases[] = {
        {"/24", {"q1", 2, kConnected, 1, "", {0xC6120005}, {0xFFFFFF00}}, 254, 0xC6120001, 0xC61200FE},
        {"two addresses of one /28",
         {"q1", 2, kConnected, 1, "", {0xC6120005, 0xC6120006}, {0xFFFFFFF0, 0xFFFFFFF0}},
         14, 0xC6120001, 0xC612000E},
        {"/16 in the /20 of its address", {"q1", 2, kConnected, 1, "", {0xAC101405}, {0xFFFF0000}},
         4094, 0xAC101001, 0xAC101FFE},
        {"/31 both addresses", {"p", 2, kConnected, 1, "", {0x0A010101}, {0xFFFFFFFE}}, 2, 0x0A010100,
         0x0A010101},
        {"/32 none", {"p", 2, kConnected, 1, "", {0x0A010101}, {0xFFFFFFFF}}, 0, 0, 0},
        {"loopback", {"lo", 1, kConnected | IFF_LOOPBACK, 772, "", {0x7F000001}, {0xFF000000}}, 0, 0, 0},
        {"no carrier", {"q0", 3, IFF_UP, 1, "", {0x0A000001}, {0xFFFFFF00}}, 0, 0, 0},
    };
    for (const auto& c : cases) {
        const std::vector<uint32_t> swept = SweptAddresses({c.interface});
        ASSERT_EQ(swept.size(), c.count) << c.what;
        if (c.count == 0) continue;
        EXPECT_EQ(swept.front(), c.first) << c.what;
        EXPECT_EQ(swept.back(), c.last) << c.what;
        EXPECT_EQ(swept.back() - swept.front() + 1, c.count) << c.what;  // ascending, each once
    }
}

}  // namespace
