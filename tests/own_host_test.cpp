// Own-host stage: own addresses and MACs from the adapter report's IP and MAC
// lines, paired by order, with the network address taken from the first one.
#include <cstring>
#include <string>

#include "discovery/own_host.h"
#include "discovery/adapter_report.h"
#include "state/run_state.h"
#include "test_support.h"

namespace {

constexpr int kXpColumn = 44;
const char kIpLabel[] = "        IP Address. . . . . . . . . . . . : ";
const char kMacLabel[] = "        Physical Address. . . . . . . . . : ";

// Adapter report lines as ipconfig prints them on XP, values at column 44.
std::string IpLine(const std::string& value) { return kIpLabel + value + "\r\n"; }
std::string MacLine(const std::string& value) { return kMacLabel + value + "\r\n"; }

class OwnHostTest : public StageTest {
protected:
    void SetUp() override {
        StageTest::SetUp();
        State.Columns.IpColumn = kXpColumn;
        State.Columns.MacColumn = kXpColumn;
    }

    void WriteReport(const std::string& ip_lines, const std::string& mac_lines) {
        WriteWorkFile(WF_ADAPTER_IP_LINES, ip_lines);
        WriteWorkFile(WF_ADAPTER_MAC_LINES, mac_lines);
    }

    // Runs the stage; exit_status is -1 when the stage returned normally.
    std::string Run(int* exit_status = nullptr) {
        int status = -1;
        std::string console = CaptureConsole([&] {
            try {
                GetOwnHost();
            } catch (const ExitCalled& exit) {
                status = exit.status;
            }
        });
        if (exit_status != nullptr) *exit_status = status;
        return console;
    }

    static std::string Ip(int row) { return State.HostTable[row].Ip; }
    static std::string Mac(int row) { return State.HostTable[row].Mac; }
};

// From version 6 on a value follows its label's colon, wherever the report's
// language and layout put it.
TEST_F(OwnHostTest, ValuesFollowTheColonInEveryLayoutFromVersionSixOn) {
    struct {
        const char* layout;
        std::string ip_line;
        std::string mac_line;
        std::string trace;
        const char* ip;
        const char* mac;
    } cases[] = {
        {"English, colon at 37", "   IPv4 Address. . . . . . . . . . . : 10.10.10.5(Preferred) \r\n",
         "   Physical Address. . . . . . . . . : 00-15-5D-01-02-03\r\n",
         "\tIP = 10.10.10.5(Preferred) \n\tMAC= 00-15-5D-01-02-03\n", "10.10.10.5",
         "00-15-5d-01-02-03"},
        {"Japanese Windows 7, colon at 37",
         Cp932("   IPv4 アドレス . . . . . . . . . . : 10.70.78.153(優先) \r\n"),
         Cp932("   物理アドレス. . . . . . . . . . . : 00-15-5D-01-02-03\r\n"),
         Cp932("\tIP = 10.70.78.153(優先) \n\tMAC= 00-15-5D-01-02-03\n"), "10.70.78.153",
         "00-15-5d-01-02-03"},
        {"Japanese Windows 10, colon at 40",
         Cp932("   IPv4 アドレス . . . . . . . . . . . .: 10.161.204.246(優先) \r\n"),
         Cp932("   物理アドレス. . . . . . . . . . . . .: 00-00-00-00-00-00-00-E0\r\n"),
         Cp932("\tIP = 10.161.204.246(優先) \n\tMAC= 00-00-00-00-00-00-00-E0\n"),
         "10.161.204.246", "00-00-00-00-00-00-00-e0"},
        {"no colon: an empty value", "   IPv4 Address. . . . : 10.0.0.7\r\n",
         std::string(39, ' ') + "\r\n", "\tIP = 10.0.0.7\n\tMAC= \n", "10.0.0.7", ""},
        {"colon without a blank", "IPv4 Address:10.0.0.8\n", "Physical Address:00-01-02-03-04-05\n",
         "\tIP = 10.0.0.8\n\tMAC= 00-01-02-03-04-05\n", "10.0.0.8", "00-01-02-03-04-05"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.layout);
        State.HostTable[0] = HostRecord{};
        State.Settings.NetAdd[0] = '\0';
        State.Markers = *FindPlatformRow({10, 0, 19045, false}, 437)->Markers;
        WriteReport(c.ip_line, c.mac_line);
        EXPECT_EQ(Run(), c.trace);
        EXPECT_EQ(Ip(0), c.ip);
        EXPECT_EQ(Mac(0), c.mac);
    }
}

// The value mark of a row decides where a value starts: at the fixed column,
// or after the mark and, unless the mark ends with one, one blank.
TEST(ReportLineValue, StartsAtTheColumnOrAfterTheMark) {
    struct {
        const char* line;
        const char* mark;
        int32_t column;
        const char* value;
    } cases[] = {
        {"IP  10.0.0.1\n", "", 4, "10.0.0.1\n"},
        {"IP\n", "", 4, ""},
        {"IP\n", "", -1, ""},
        {"IP: 10.0.0.1\n", ":", 0, "10.0.0.1\n"},
        {"IP:10.0.0.1\n", ":", 0, "10.0.0.1\n"},
        {"IP:  10.0.0.1\n", ":", 0, " 10.0.0.1\n"},
        {"IP 10.0.0.1\n", ":", 0, "\n"},
        {"MAC =  AA\n", "= ", 0, " AA\n"},
        {"A=B = AA\n", "= ", 0, "AA\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_STREQ(ReportLineValue(c.line, c.mark, c.column), c.value);
    }
}

TEST_F(OwnHostTest, XpReportGivesRowNetworkAddressAndExactTrace) {
    WriteReport(IpLine("192.168.1.10"), MacLine("00-0C-29-AA-BB-CC"));
    std::string console = Run();
    EXPECT_EQ(console, "\tIP = 192.168.1.10\n\tMAC= 00-0C-29-AA-BB-CC\n");
    EXPECT_EQ(State.OwnHostCount, 1);
    EXPECT_EQ(Ip(0), "192.168.1.10");
    EXPECT_EQ(Mac(0), "00-0c-29-aa-bb-cc");
    EXPECT_STREQ(State.Settings.NetAdd, "192.168.1.10");
}

struct IpCase {
    const char* value;     // text from the column on, line end included
    bool gives_row;
    const char* expected;  // the row's Ip
};

// One IP line next to a valid second line, so that the stage never stops.
TEST_F(OwnHostTest, AddressValueIsCutAtTheFirstCharacterOutsideDigitsAndDots) {
    const IpCase cases[] = {
        {"192.168.1.10\r\n", true, "192.168.1.10"},
        {"192.168.1.10 (Preferred)\r\n", true, "192.168.1.10"},
        {"192.168.1.10(Preferred)\r\n", true, "192.168.1.10"},
        {"0.0.0.0\r\n", false, ""},
        {"01.2.3.4\r\n", false, ""},
        {"10.0.0.1\r\n", true, "10.0.0.1"},
        {" 192.168.1.10\r\n", true, ""},
        {"fe80::1\r\n", true, ""},
        {"\r\n", true, ""},
        {"1234567890.1234567890.12\r\n", true, "1234567890.1234"},
    };
    for (const IpCase& c : cases) {
        SCOPED_TRACE(c.value);
        ResetRunState();
        PrepareWorkFiles();
        State.Columns.IpColumn = kXpColumn;
        State.Columns.MacColumn = kXpColumn;
        WriteReport(kIpLabel + std::string(c.value) + IpLine("172.16.0.1"), "");
        int status = 0;
        Run(&status);
        ASSERT_EQ(status, -1);
        ASSERT_EQ(State.OwnHostCount, c.gives_row ? 2 : 1);
        if (c.gives_row) {
            EXPECT_EQ(Ip(0), c.expected);
        }
        EXPECT_EQ(Ip(c.gives_row ? 1 : 0), "172.16.0.1");
        // Nothing of an over-long value spills into the next field.
        EXPECT_EQ(Mac(0), "");
    }
}

TEST_F(OwnHostTest, DisconnectedAdapterFirstTakesTheSecondMacLine) {
    WriteReport(IpLine("0.0.0.0") + IpLine("192.168.1.10"),
                MacLine("00-11-22-33-44-55") + MacLine("00-A0-C9-12-34-56"));
    std::string console = Run();
    EXPECT_EQ(console,
              "\tIP = 0.0.0.0\n\tIP = 192.168.1.10\n"
              "\tMAC= 00-11-22-33-44-55\n\tMAC= 00-A0-C9-12-34-56\n");
    EXPECT_EQ(State.OwnHostCount, 1);
    EXPECT_EQ(Ip(0), "192.168.1.10");
    EXPECT_EQ(Mac(0), "00-a0-c9-12-34-56");
    EXPECT_EQ(Mac(1), "");
    EXPECT_STREQ(State.Settings.NetAdd, "192.168.1.10");
}

TEST_F(OwnHostTest, BlankAtIpColumnGivesEmptyRowPairedWithItsMacLine) {
    WriteReport(IpLine(" ") + IpLine("192.168.1.10"),
                MacLine("00-11-22-33-44-55") + MacLine("00-A0-C9-12-34-56"));
    Run();
    EXPECT_EQ(State.OwnHostCount, 2);
    EXPECT_EQ(Ip(0), "");
    EXPECT_EQ(Mac(0), "00-11-22-33-44-55");
    EXPECT_EQ(Ip(1), "192.168.1.10");
    EXPECT_EQ(Mac(1), "00-a0-c9-12-34-56");
    EXPECT_STREQ(State.Settings.NetAdd, "192.168.1.10");
}

TEST_F(OwnHostTest, NoValidAddressEndsTheRunWithStatusZeroAndNoWorkFolder) {
    const std::string reports[] = {
        IpLine("0.0.0.0") + IpLine("0.0.0.0"),
        IpLine(" ") + IpLine("abc"),
        "",
    };
    for (const std::string& report : reports) {
        SCOPED_TRACE(report);
        PrepareWorkFiles();  // the end of the run before removed its folder
        WriteReport(report, MacLine("00-11-22-33-44-55"));
        int status = -1;
        std::string console = Run(&status);
        EXPECT_EQ(status, 0);
        // The message ends the trace: the MAC lines are never read.
        std::string message = Cp932("有効なTCP/IPプロトコル,IPアドレスがありません。\n");
        ASSERT_GE(console.size(), message.size());
        EXPECT_EQ(console.substr(console.size() - message.size()), message);
        EXPECT_EQ(console.find("MAC="), std::string::npos);
        EXPECT_STREQ(State.Settings.NetAdd, "");
        EXPECT_FALSE(FileExists(State.Files.Folder));
    }
}

// No own address in the given network: every own row stays, as without /n.
TEST_F(OwnHostTest, GivenNetworkAddressIsKept) {
    std::strcpy(State.Settings.NetAdd, "10.1.0.0");
    std::strcpy(State.Settings.MaskAdd, "255.255.0.0");
    WriteReport(IpLine("192.168.1.10"), MacLine("00-0C-29-AA-BB-CC"));
    Run();
    EXPECT_EQ(Ip(0), "192.168.1.10");
    EXPECT_EQ(State.OwnHostCount, 1);
    EXPECT_STREQ(State.Settings.NetAdd, "10.1.0.0");
}

// /n naming the second adapter's segment: its addresses are the own rows,
// with its MAC; the first adapter's is no host of that segment.
TEST_F(OwnHostTest, GivenNetworkKeepsTheOwnRowsThatLieInIt) {
    std::strcpy(State.Settings.NetAdd, "198.18.0.0");
    std::strcpy(State.Settings.MaskAdd, "255.255.255.0");
    WriteReport(IpLine("10.9.0.1") + IpLine("198.18.0.1") + IpLine("198.18.0.2"),
                MacLine("02-18-00-00-FF-00") + MacLine("02-18-00-00-00-01") +
                    MacLine("02-18-00-00-00-01"));
    Run();
    ASSERT_EQ(State.OwnHostCount, 2);
    EXPECT_EQ(Ip(0), "198.18.0.1");
    EXPECT_EQ(Mac(0), "02-18-00-00-00-01");
    EXPECT_EQ(Ip(1), "198.18.0.2");
    EXPECT_EQ(Ip(2), "");
}

TEST_F(OwnHostTest, MissingIpFileReportsAndLeavesEverythingAsItWas) {
    std::strcpy(State.Settings.NetAdd, "10.1.0.0");
    WriteWorkFile(WF_ADAPTER_MAC_LINES, MacLine("00-0C-29-AA-BB-CC"));
    int status = 0;
    std::string console = Run(&status);
    EXPECT_EQ(status, -1);
    EXPECT_EQ(console, Cp932("IPアドレス取得エラー\n"));
    EXPECT_EQ(State.OwnHostCount, 0);
    EXPECT_STREQ(State.Settings.NetAdd, "10.1.0.0");
    EXPECT_EQ(Mac(0), "");
}

TEST_F(OwnHostTest, MissingMacFileReportsAfterSettingTheNetworkAddress) {
    WriteWorkFile(WF_ADAPTER_IP_LINES, IpLine("192.168.1.10"));
    std::string console = Run();
    EXPECT_EQ(console, "\tIP = 192.168.1.10\n" + Cp932("MACアドレス取得エラー\n"));
    EXPECT_EQ(State.OwnHostCount, 1);
    EXPECT_EQ(Mac(0), "");
    EXPECT_STREQ(State.Settings.NetAdd, "192.168.1.10");
}

struct MacCase {
    const char* value;     // text from the column on
    const char* expected;  // the row's Mac; "stale" when the line left it alone
    int next_row_mac;      // which MAC the second row gets: 0 none, 1 the first line's, 2 the second's
};

// Row 0 starts with a stale MAC so that "nothing copied" and "empty copied"
// tell apart. Both rows are valid; the second MAC line is 00-00-5E-00-01-02.
TEST_F(OwnHostTest, MacValueRules) {
    const MacCase cases[] = {
        {"00-A0-C9-12-34-56\r\n", "00-a0-c9-12-34-56", 2},
        {"00-a0-C9-12-34-56\r\n", "00-", 2},
        {"00-A0-C9-12-34-5\xC9\r\n", "00-a0-c9-12-34-5", 2},
        {"00-A0-C9-12-34-56 (Preferred)\r\n", "00-a0-c9-12-34-56", 2},
        {" 00-A0-C9-12-34-56\r\n", "", 2},
        {"00-00-00-00-00-00\r\n", "00-00-00-00-00-00", 2},
        {"00-A0-C9-12-34-56-78-9A-BC-DE-F0-12\r\n", "00-a0-c9-12-34-56-78-9a-bc-de-f", 2},
    };
    for (const MacCase& c : cases) {
        SCOPED_TRACE(c.value);
        ResetRunState();
        PrepareWorkFiles();
        State.Columns.IpColumn = kXpColumn;
        State.Columns.MacColumn = kXpColumn;
        std::strcpy(State.HostTable[0].Mac, "stale");
        WriteReport(IpLine("192.168.1.10") + IpLine("192.168.2.10"),
                    kMacLabel + std::string(c.value) + MacLine("00-00-5E-00-01-02"));
        Run();
        EXPECT_EQ(Mac(0), c.expected);
        EXPECT_EQ(Mac(1), "00-00-5e-00-01-02");
        EXPECT_EQ(Ip(0), "192.168.1.10");
        EXPECT_EQ(State.HostTable[1].Name[0], '\0');  // the MAC stays inside its field
    }
}

TEST_F(OwnHostTest, AllZeroMacWithoutLineEndGivesNothingAndKeepsTheRowCounter) {
    // Only the last line, without line end, can equal the all-zero MAC.
    WriteReport(IpLine("0.0.0.0") + IpLine("192.168.1.10") + IpLine("192.168.2.10"),
                MacLine("00-11-22-33-44-55") + MacLine("00-A0-C9-12-34-56") + kMacLabel +
                    "00-00-00-00-00-00");
    std::strcpy(State.HostTable[1].Mac, "stale");
    std::string console = Run();
    EXPECT_EQ(Mac(0), "00-a0-c9-12-34-56");
    EXPECT_EQ(Mac(1), "stale");
    // The trace of a line without line end has none either.
    const std::string last_trace = "\tMAC= 00-00-00-00-00-00";
    ASSERT_GE(console.size(), last_trace.size());
    EXPECT_EQ(console.substr(console.size() - last_trace.size()), last_trace);
}

TEST_F(OwnHostTest, LinesShorterThanTheColumnReadAsTheEndOfTheText) {
    WriteReport("IP Address\n" + IpLine("192.168.1.10"),
                std::string("Physical\n") + MacLine("00-A0-C9-12-34-56"));
    std::strcpy(State.HostTable[0].Mac, "stale");
    std::string console = Run();
    // A short line prints nothing after its label and gives a row with an
    // empty Ip; its MAC line copies nothing but still takes its row.
    EXPECT_EQ(console, "\tIP = \tIP = 192.168.1.10\n\tMAC= \tMAC= 00-A0-C9-12-34-56\n");
    EXPECT_EQ(State.OwnHostCount, 2);
    EXPECT_EQ(Ip(0), "");
    EXPECT_EQ(Mac(0), "stale");
    EXPECT_EQ(Mac(1), "00-a0-c9-12-34-56");
}

TEST_F(OwnHostTest, AtMostTenOwnRowsButEveryLineIsTraced) {
    std::string ip_lines;
    std::string mac_lines;
    for (int i = 0; i < 12; ++i) {
        ip_lines += IpLine("10.0.0." + std::to_string(i + 1));
        mac_lines += MacLine("00-00-00-00-00-" + std::to_string(10 + i));
    }
    WriteReport(ip_lines, mac_lines);
    std::strcpy(State.HostTable[10].Mac, "stale");
    std::string console = Run();
    EXPECT_EQ(State.OwnHostCount, 10);
    EXPECT_EQ(Ip(9), "10.0.0.10");
    EXPECT_EQ(Mac(9), "00-00-00-00-00-19");
    EXPECT_EQ(Ip(10), "");
    EXPECT_EQ(Mac(10), "stale");
    EXPECT_NE(console.find("\tIP = 10.0.0.12\n"), std::string::npos);
    EXPECT_NE(console.find("\tMAC= 00-00-00-00-00-21\n"), std::string::npos);
}

TEST_F(OwnHostTest, LongLineCountsOnceAndKeepsItsPairing) {
    // A 600-byte IP line: its first piece gives the row, its rest is skipped,
    // so the first MAC line pairs with it and the second with the next line.
    std::string long_line = kIpLabel + std::string("192.168.1.10 ") + std::string(560, 'x');
    WriteReport(long_line + "\r\n" + IpLine("192.168.2.10"),
                MacLine("00-A0-C9-12-34-56") + MacLine("00-00-5E-00-01-02"));
    Run();
    EXPECT_EQ(State.OwnHostCount, 2);
    EXPECT_EQ(Ip(0), "192.168.1.10");
    EXPECT_EQ(Mac(0), "00-a0-c9-12-34-56");
    EXPECT_EQ(Ip(1), "192.168.2.10");
    EXPECT_EQ(Mac(1), "00-00-5e-00-01-02");
}

}  // namespace
