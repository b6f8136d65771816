// The other-hosts stage: the subnet sweep, its commands and progress marks, and
// the two harvest passes over the ping and ARP reports.
#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "discovery/other_hosts.h"
#include "discovery/adapter_report.h"
#include "platform/platform.h"
#include "state/run_state.h"
#include "test_support.h"

namespace {

struct Row {
    std::string name;
    std::string ip;
    std::string mac;
    bool operator==(const Row& other) const {
        return name == other.name && ip == other.ip && mac == other.mac;
    }
};

std::ostream& operator<<(std::ostream& out, const Row& row) {
    return out << "{" << row.name << "," << row.ip << "," << row.mac << "}";
}

std::string PingReport(const std::string& name, const std::string& address) {
    return "\nPinging " + name + " [" + address + "] with 32 bytes of data:\n\n"
           "Reply from " + address + ": bytes=32 time<1ms TTL=128\n";
}

std::string ArpLine(const std::string& address, const std::string& mac) {
    return "  " + address + "           " + mac + "     dynamic\n";
}

std::string ArpReport(const std::string& lines) {
    return "\nInterface: 192.168.1.10 --- 0x2\n"
           "  Internet Address      Physical Address      Type\n" + lines;
}

class OtherHostsTest : public StageTest {
protected:
    void SetUp() override {
        StageTest::SetUp();
        on_command_ = [this](const std::string& command) { EmulateTool(command); };
    }

    void SetSubnet(const char* network, const char* mask) {
        CopyField(State.Settings.NetAdd, ADDRESS_SIZE, network);
        CopyField(State.Settings.MaskAdd, ADDRESS_SIZE, mask);
    }

    void AddOwnRow(const char* ip, const char* mac) {
        HostRecord& row = State.HostTable[State.OwnHostCount++];
        CopyField(row.Ip, ADDRESS_SIZE, ip);
        CopyField(row.Mac, MAC_SIZE, mac);
    }

    std::vector<Row> Rows() const {
        std::vector<Row> rows;
        for (int i = 0; i < State.HostCount; ++i) {
            const HostRecord& row = State.HostTable[i];
            rows.push_back({row.Name, row.Ip, row.Mac});
        }
        return rows;
    }

    // The commands' addresses, in the order probed (every ping must be
    // followed by the arp of the same address).
    std::vector<std::string> ProbedAddresses() const {
        std::vector<std::string> addresses;
        for (size_t i = 0; i + 1 < commands_.size(); i += 2) {
            std::string ping = commands_[i];
            std::string address = ping.substr(0, ping.find(" >> "));
            address = address.substr(address.rfind(' ') + 1);
            EXPECT_EQ(commands_[i + 1].rfind("arp -a " + address + " >> ", 0), 0u)
                << commands_[i + 1];
            addresses.push_back(address);
        }
        return addresses;
    }

    // Plays ping and arp: appends this run's report for the address to the
    // redirection target, as the interpreter's ">>" would.
    void EmulateTool(const std::string& command) {
        std::string::size_type redirect = command.find(" >> ");
        ASSERT_NE(redirect, std::string::npos) << command;
        std::string target = command.substr(redirect + 4);
        if (target.size() >= 2 && target.front() == '"') target = target.substr(1, target.size() - 2);
        std::string head = command.substr(0, redirect);
        std::string address = head.substr(head.rfind(' ') + 1);
        std::string report;
        if (command.rfind("ping ", 0) == 0) {
            auto found = ping_reports_.find(address);
            report = found != ping_reports_.end()
                         ? found->second
                         : "\nPinging " + address + " with 32 bytes of data:\n\nRequest timed out.\n";
        } else {
            auto found = arp_reports_.find(address);
            report = found != arp_reports_.end() ? found->second : "No ARP Entries Found\n";
        }
        WriteFileBytes(target, ReadFileBytes(target) + report);
    }

    std::map<std::string, std::string> ping_reports_;
    std::map<std::string, std::string> arp_reports_;
};

// ---------------------------------------------------------------------------
// The sweep.

TEST_F(OtherHostsTest, SweepsEveryHostNumberOfTheSubnet) {
    struct {
        const char* network;
        const char* mask;
        const char* search_count;
        size_t probes;
        const char* first;
        const char* last;
        int marks;
    } cases[] = {
        {"192.168.1.37", "255.255.255.0", "253", 254, "192.168.1.1", "192.168.1.254", 25},
        {"10.0.0.6", "255.255.255.252", "1", 2, "10.0.0.5", "10.0.0.6", 0},
        {"10.0.0.17", "255.255.255.240", "13", 14, "10.0.0.17", "10.0.0.30", 1},
        {"172.16.3.9", "255.255.254.0", "509", 510, "172.16.2.1", "172.16.3.254", 50},
        // Only the low 8 bits of each number count.
        {"192.168.257.37", "255.255.255.252", "1", 2, "192.168.1.37", "192.168.1.38", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.network) + " / " + c.mask);
        commands_.clear();
        SetSubnet(c.network, c.mask);
        std::string console = CaptureConsole([] { GetOtherHosts(); });
        std::string expected = std::string("\tSearch ") + c.search_count + " hosts : <" +
                               std::string(c.marks, '*') + "*>\n";
        EXPECT_EQ(console, expected);
        std::vector<std::string> probed = ProbedAddresses();
        ASSERT_EQ(probed.size(), c.probes);
        EXPECT_EQ(commands_.size(), 2 * c.probes);
        EXPECT_EQ(probed.front(), c.first);
        EXPECT_EQ(probed.back(), c.last);
    }
}

TEST_F(OtherHostsTest, SweepCrossesByteBoundariesInOrder) {
    SetSubnet("172.16.3.9", "255.255.254.0");
    CaptureConsole([] { GetOtherHosts(); });
    std::vector<std::string> probed = ProbedAddresses();
    ASSERT_EQ(probed.size(), 510u);
    EXPECT_EQ(probed[254], "172.16.2.255");
    EXPECT_EQ(probed[255], "172.16.3.0");
}

TEST_F(OtherHostsTest, ProbeCommandsWithAndWithoutTimeOut) {
    struct {
        int ping_wait;
        const char* ping_options;
    } cases[] = {{0, ""}, {500, "-w 500 "}, {10000, "-w 10000 "}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ping_wait);
        commands_.clear();
        State.Settings.PingWait = c.ping_wait;
        ProbeAddress("192.168.1.7");
        ASSERT_EQ(commands_.size(), 2u);
        EXPECT_EQ(commands_[0], std::string("ping -a -n 1 ") + c.ping_options +
                                    "192.168.1.7 >> " + WorkFile(WF_SWEEP_PINGS));
        EXPECT_EQ(commands_[1], "arp -a 192.168.1.7 >> " + WorkFile(WF_SWEEP_ARP));
    }
}

TEST_F(OtherHostsTest, TempFolderWithBlankIsQuoted) {
    std::string folder = temp_.File("Local Settings");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    setenv("TMPDIR", folder.c_str(), 1);
    PrepareWorkFiles();
    ASSERT_EQ(WorkFile(WF_SWEEP_PINGS).rfind(folder + "/qarvik-", 0), 0u);
    State.Settings.PingWait = 500;
    ProbeAddress("192.168.1.7");
    ASSERT_EQ(commands_.size(), 2u);
    EXPECT_EQ(commands_[0],
              "ping -a -n 1 -w 500 192.168.1.7 >> \"" + WorkFile(WF_SWEEP_PINGS) + "\"");
    EXPECT_EQ(commands_[1], "arp -a 192.168.1.7 >> \"" + WorkFile(WF_SWEEP_ARP) + "\"");
}

TEST_F(OtherHostsTest, MaskWithoutHostsSweepsNothingAndKeepsTheOwnRows) {
    struct {
        const char* mask;
        const char* search_count;
    } cases[] = {{"255.255.255.254", "-1"}, {"255.255.255.255", "-2"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mask);
        commands_.clear();
        waits_.clear();
        State.HostCount = 0;
        State.OwnHostCount = 0;
        AddOwnRow("192.168.1.10", "00-a0-c9-12-34-56");
        // Reports of an earlier run are removed even though nothing is probed.
        WriteWorkFile(3, PingReport("OLD", "192.168.1.99"));
        WriteWorkFile(4, ArpReport(ArpLine("192.168.1.98", "00-00-00-00-00-98")));
        SetSubnet("192.168.1.10", c.mask);
        std::string console = CaptureConsole([] { GetOtherHosts(); });
        EXPECT_EQ(console, std::string("\tSearch ") + c.search_count + " hosts : <*>\n");
        EXPECT_TRUE(commands_.empty());
        EXPECT_TRUE(waits_.empty());
        EXPECT_EQ(State.HostCount, 1);
        EXPECT_FALSE(State.StageFailed);
        EXPECT_FALSE(FileExists(WorkFile(3)));
        EXPECT_FALSE(FileExists(WorkFile(4)));
        EXPECT_FALSE(FileExists(WorkFile(11)));
    }
}

TEST_F(OtherHostsTest, NoSubnetGivesOnlyTheError) {
    struct {
        const char* network;
        const char* mask;
    } cases[] = {
        {"", "255.255.255.0"},           {"192.168.1.10", ""},
        {"192.168.1", "255.255.255.0"},  {"192.168.1.x", "255.255.255.0"},
        {"a.b.c.d", "255.255.255.0"},    {"192.168.1.10", "255,255,255,0"},
        {"192 168 1 10", "255.255.255.0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("'") + c.network + "' / '" + c.mask + "'");
        WriteWorkFile(3, PingReport("OLD", "192.168.1.99"));
        WriteWorkFile(4, ArpReport(ArpLine("192.168.1.98", "00-00-00-00-00-98")));
        State.HostCount = 7;
        SetSubnet(c.network, c.mask);
        EXPECT_EQ(CaptureConsole([] { GetOtherHosts(); }), "Get other hosts error\n");
        EXPECT_TRUE(commands_.empty());
        EXPECT_TRUE(waits_.empty());
        EXPECT_EQ(State.HostCount, 7);
        EXPECT_FALSE(FileExists(WorkFile(11)));
        EXPECT_FALSE(FileExists(WorkFile(5)));
    }
}

// ---------------------------------------------------------------------------
// The harvest.

TEST_F(OtherHostsTest, NamesAndArpEntriesMergeIntoOneRowPerAddress) {
    AddOwnRow("192.168.1.10", "00-a0-c9-12-34-56");
    AddOwnRow("192.168.1.11", "00-a0-c9-12-34-57");
    SetSubnet("192.168.1.10", "255.255.255.240");
    ping_reports_["192.168.1.10"] = PingReport("MYPC", "192.168.1.10");
    ping_reports_["192.168.1.2"] = PingReport("PC-A", "192.168.1.2");
    ping_reports_["192.168.1.3"] = PingReport("PC-B", "192.168.1.3");
    arp_reports_["192.168.1.2"] = ArpReport(ArpLine("192.168.1.2", "00-0c-29-aa-bb-02"));
    arp_reports_["192.168.1.4"] = ArpReport(ArpLine("192.168.1.4", "00-0c-29-aa-bb-04"));
    arp_reports_["192.168.1.5"] = ArpReport(ArpLine("192.168.1.5", "00-0c-29-aa-bb-05") +
                                            ArpLine("192.168.1.5", "00-0c-29-cc-dd-05"));
    arp_reports_["192.168.1.10"] = ArpReport(ArpLine("192.168.1.10", "00-A0-C9-FF-FF-FF"));
    CaptureConsole([] { GetOtherHosts(); });
    std::vector<Row> expected = {
        {"", "192.168.1.10", "00-A0-C9-FF-FF-FF"},  // own MAC replaced from the cache
        {"", "192.168.1.11", "00-a0-c9-12-34-57"},
        {"PC-A", "192.168.1.2", "00-0c-29-aa-bb-02"},
        {"PC-B", "192.168.1.3", ""},
        {"", "192.168.1.4", "00-0c-29-aa-bb-04"},
        {"", "192.168.1.5", "00-0c-29-cc-dd-05"},  // the later line wins
    };
    EXPECT_EQ(Rows(), expected);
    EXPECT_EQ(State.OwnHostCount, 2);
}

// Japanese reports from version 6 on: the name or address starts the ping
// line, and the ARP lines are marked "動的".
TEST_F(OtherHostsTest, JapaneseReportsGiveTheRowsOfEnglishOnes) {
    State.Markers = *FindPlatformRow({10, 0, 19045, false}, 932)->Markers;
    AddOwnRow("192.168.1.10", "00-a0-c9-12-34-56");
    SetSubnet("192.168.1.10", "255.255.255.240");
    ping_reports_["192.168.1.2"] = Cp932(
        "\nPC-A [192.168.1.2]に ping を送信しています 32 バイトのデータ:\n"
        "192.168.1.2 からの応答: バイト数 =32 時間 <1ms TTL=128\n");
    ping_reports_["192.168.1.3"] = Cp932(
        "\n192.168.1.3 に ping を送信しています 32 バイトのデータ:\n要求がタイムアウトしました。\n");
    const std::string arp_heading = Cp932(
        "\nインターフェイス: 192.168.1.10 --- 0x5\n"
        "  インターネット アドレス 物理アドレス           種類\n");
    arp_reports_["192.168.1.2"] =
        arp_heading + Cp932("  192.168.1.2           00-0c-29-aa-bb-02     動的        \n");
    arp_reports_["192.168.1.3"] =
        arp_heading + Cp932("  192.168.1.3           00-0c-29-aa-bb-03     動的        \n");
    arp_reports_["192.168.1.4"] =
        arp_heading + Cp932("  192.168.1.4           00-0c-29-aa-bb-04     静的        \n");
    CaptureConsole([] { GetOtherHosts(); });
    std::vector<Row> expected = {
        {"", "192.168.1.10", "00-a0-c9-12-34-56"},
        {"PC-A", "192.168.1.2", "00-0c-29-aa-bb-02"},
        {"", "192.168.1.3", "00-0c-29-aa-bb-03"},  // no name: no brackets
    };
    EXPECT_EQ(Rows(), expected);
}

TEST_F(OtherHostsTest, MalformedReportLinesGiveNoRow) {
    const std::string long_name(150, 'N');
    const std::string long_mac(40, 'm');
    struct {
        const char* what;
        std::string ping;  // the report of the ping of 192.168.1.2
        std::string arp;   // the report of the arp query of 192.168.1.2
        std::vector<Row> added;
    } cases[] = {
        {"bracket without its end", "Pinging PC-X [192.168.1.2 with 32 bytes of data:\n", "", {}},
        {"bracket without its end, last line", "Pinging PC-X [192.168.1.2", "", {}},
        {"letters in brackets", "Pinging PC-X [evil&cmd] with 32 bytes of data:\n", "", {}},
        {"address too long", "Pinging PC-X [192.168.001.0002] with 32 bytes of data:\n", "", {}},
        {"empty brackets", "Pinging PC-X [] with 32 bytes of data:\n", "", {}},
        {"bracket inside the name", "Pinging PC-X[192.168.1.2]\n", "", {}},
        {"marker at the very end", "Pinging", "", {}},
        {"longest address", "Pinging PC-X [192.168.100.200] with 32 bytes of data:\n", "",
         {{"PC-X", "192.168.100.200", ""}}},
        {"over-long name is cut", "Pinging " + long_name + " [192.168.1.2] with 32 bytes:\n", "",
         {{long_name.substr(0, NAME_SIZE - 1), "192.168.1.2", ""}}},
        {"one-word ARP line after a two-word one", "",
         ArpReport(ArpLine("192.168.1.4", "00-0c-29-00-00-04") + "  dynamic\n"),
         {{"", "192.168.1.4", "00-0c-29-00-00-04"}}},
        {"ARP name instead of address", "",
         ArpReport(ArpLine("router.local", "00-0c-29-00-00-01")), {}},
        {"ARP address too long", "",
         ArpReport(ArpLine("192.168.001.0002", "00-0c-29-00-00-01")), {}},
        {"tabs between ARP words", "", "\t192.168.1.6\t00-0c-29-00-00-06\tdynamic\n",
         {{"", "192.168.1.6", "00-0c-29-00-00-06"}}},
        {"over-long MAC is cut", "", ArpReport(ArpLine("192.168.1.7", long_mac)),
         {{"", "192.168.1.7", long_mac.substr(0, MAC_SIZE - 1)}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ResetRunState();
        PrepareWorkFiles();
        AddOwnRow("192.168.1.10", "00-a0-c9-12-34-56");
        SetSubnet("192.168.1.0", "255.255.255.252");
        ping_reports_.clear();
        arp_reports_.clear();
        if (!c.ping.empty()) ping_reports_["192.168.1.2"] = c.ping;
        if (!c.arp.empty()) arp_reports_["192.168.1.2"] = c.arp;
        CaptureConsole([] { GetOtherHosts(); });
        std::vector<Row> expected = {{"", "192.168.1.10", "00-a0-c9-12-34-56"}};
        expected.insert(expected.end(), c.added.begin(), c.added.end());
        EXPECT_EQ(Rows(), expected);
    }
}

TEST_F(OtherHostsTest, ReportsOfAnEarlierRunAreNotHarvested) {
    AddOwnRow("192.168.1.10", "00-a0-c9-12-34-56");
    SetSubnet("192.168.1.0", "255.255.255.252");
    WriteWorkFile(3, PingReport("OLD-PC", "192.168.1.99"));
    WriteWorkFile(4, ArpReport(ArpLine("192.168.1.98", "00-00-00-00-00-98")));
    ping_reports_["192.168.1.1"] = PingReport("ROUTER", "192.168.1.1");
    CaptureConsole([] { GetOtherHosts(); });
    std::vector<Row> expected = {{"", "192.168.1.10", "00-a0-c9-12-34-56"},
                                 {"ROUTER", "192.168.1.1", ""}};
    EXPECT_EQ(Rows(), expected);
    EXPECT_EQ(ReadWorkFile(11), "Pinging ROUTER [192.168.1.1] with 32 bytes of data:\r\n"
                                "Pinging 192.168.1.2 with 32 bytes of data:\r\n");
}

TEST_F(OtherHostsTest, MissingArpReportLeavesTheHostCount) {
    AddOwnRow("192.168.1.10", "00-a0-c9-12-34-56");
    SetSubnet("192.168.1.0", "255.255.255.252");
    ping_reports_["192.168.1.1"] = PingReport("ROUTER", "192.168.1.1");
    on_command_ = [this](const std::string& command) {
        if (command.rfind("ping ", 0) == 0) EmulateTool(command);  // arp never writes
    };
    std::string console = CaptureConsole([] { GetOtherHosts(); });
    EXPECT_EQ(console, "\tSearch 1 hosts : <*>\nFile open error : " + WorkFile(4) +
                           "\nGet other hosts error\n");
    EXPECT_EQ(waits_, std::vector<int>(100, 300));
    EXPECT_EQ(State.HostCount, 0);
    EXPECT_STREQ(State.HostTable[1].Name, "ROUTER");  // found, but not counted
}

TEST_F(OtherHostsTest, TableStopsAtSixtyThousandRows) {
    AddOwnRow("192.168.1.10", "00-a0-c9-12-34-56");
    SetSubnet("192.168.1.0", "255.255.255.252");
    std::string lines;
    for (int k = 0; k < 70000; ++k) {
        lines += ArpLine("10." + std::to_string(k >> 16) + "." + std::to_string((k >> 8) & 255) +
                             "." + std::to_string(k & 255),
                         "00-0c-29-00-00-00");
    }
    arp_reports_["192.168.1.1"] = ArpReport(lines);
    CaptureConsole([] { GetOtherHosts(); });
    ASSERT_EQ(State.HostCount, HOST_TABLE_ROWS);
    // Row 59999 holds ARP line 59998 (k = 59998 = 0xEA5E).
    EXPECT_STREQ(State.HostTable[HOST_TABLE_ROWS - 1].Ip, "10.0.234.94");
}

// The rows a plain scan of the table gives, as a reference for the index.
struct Reference {
    std::vector<Row> rows;

    int FirstRow(const std::string& ip) const {
        for (size_t i = 0; i < rows.size(); ++i) {
            if (rows[i].ip == ip) return static_cast<int>(i);
        }
        return -1;
    }
    void Resolved(const std::string& name, const std::string& ip) {
        if (FirstRow(ip) < 0) rows.push_back({name, ip, ""});
    }
    void Arp(const std::string& ip, const std::string& mac) {
        int row = FirstRow(ip);
        if (row >= 0) {
            rows[row].mac = mac;
        } else {
            rows.push_back({"", ip, mac});
        }
    }
};

TEST_F(OtherHostsTest, IndexGivesTheRowsOfAPlainScan) {
    Reference reference;
    // Own rows: a repeated address (the first row takes the MACs), an empty one,
    // and one written with leading zeros that only its exact text matches.
    const char* own[] = {"192.168.1.10", "192.168.1.10", "", "192.168.001.010", "10.1.0.7"};
    for (const char* ip : own) {
        AddOwnRow(ip, "00-a0-c9-00-00-00");
        reference.rows.push_back({"", ip, "00-a0-c9-00-00-00"});
    }
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t limit) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % limit;
    };
    auto address = [&next](uint32_t pool) {
        uint32_t k = next(pool);
        if (k == 0) return std::string("192.168.001.010");
        if (k == 1) return std::string("192.168.1.10");
        return "10.1." + std::to_string(k >> 8) + "." + std::to_string(k & 255);
    };
    std::string pings;
    for (int i = 0; i < 6000; ++i) {
        std::string ip = address(3000);
        std::string name = "PC" + std::to_string(i);
        pings += "Pinging " + name + " [" + ip + "] with 32 bytes of data:\n";
        reference.Resolved(name, ip);
    }
    std::string arp;
    for (int i = 0; i < 6000; ++i) {
        std::string ip = address(5000);
        std::string mac = "00-0c-29-00-" + std::to_string(i / 100) + "-" + std::to_string(i % 100);
        arp += ArpLine(ip, mac);
        reference.Arp(ip, mac);
    }
    WriteWorkFile(3, pings);
    WriteWorkFile(4, arp);
    int n = HarvestResolvedNames(State.OwnHostCount);
    ASSERT_GT(n, State.OwnHostCount);
    ASSERT_TRUE(HarvestArpCache(n));
    EXPECT_EQ(Rows(), reference.rows);
}

}  // namespace
