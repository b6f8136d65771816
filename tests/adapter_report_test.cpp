// The platform probe's table and the capture of the adapter report.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "discovery/own_host.h"
#include "discovery/adapter_blocks.h"
#include "discovery/adapter_report.h"
#include "state/run_state.h"
#include "test_support.h"

namespace {

struct PlatformCase {
    const char* winver;
    const char* printed;  // nullptr: outside the table
    std::string command;  // followed by the path of work file 0
    std::string mac_label;
    std::string ip_label;
    int mac_column;
    int ip_column;
    int nbt_mac_column;
};

std::vector<PlatformCase> PlatformCases() {
    const std::string ipconfig = "ipconfig /all > ";
    const std::string win98 = "winipcfg /all /batch ";
    const std::string win95 = Cp932("winipcfg /全 /ﾊﾞｯﾁ ");
    const std::string mac98 = Cp932("物理アドレス"), ip98 = Cp932("IP アドレス");
    const std::string mac95 = Cp932("物理ｱﾄﾞﾚｽ"), ip95 = Cp932("IP ｱﾄﾞﾚｽ");
    return {
        {"95", "\tOS         = Windows 95\n", win95, mac95, ip95, 24, 29, 14},
        {"98", "\tOS         = Windows 98\n", win98, mac98, ip98, 27, 32, 14},
        {"me", "\tOS         = Windows 95\n", win95, mac95, ip95, 24, 29, 14},
        {"nt4", "\tOS         = Windows NT4.0\n", ipconfig, "Physical", "IP Address", 31, 31, 14},
        {"2000", "\tOS         = Windows 2000\n", ipconfig, "Physical", "IP Address", 37, 37, 18},
        {"xp", "\tOS         = Windows XP\n", ipconfig, "Physical", "IP Address", 44, 44, 18},
        {"2003", "\tOS         = Windows XP\n", ipconfig, "Physical", "IP Address", 39, 39, 18},
        // From version 6 on, the labels of the console's code page (932 unless set).
        {"7", "\tOS         = Windows 7\n", ipconfig, Cp932("物理アドレス"), Cp932("IPv4 アドレス"),
         39, 39, 18},
        {"3.51.1057", nullptr, "", "", "", 31, 31, 14},
        // The build number's bit 26 decides before the major version does.
        {"6.10.0x04000001", "\tOS         = Windows 98\n", win98, mac98, ip98, 27, 32, 14},
    };
}

class AdapterReportTest : public StageTest {
protected:
    void TearDown() override {
        if (saved_winver_.empty()) {
            unsetenv("QARVIK_WINVER");
        } else {
            setenv("QARVIK_WINVER", saved_winver_.c_str(), 1);
        }
        StageTest::TearDown();
    }
    void SetWinVer(const char* winver) {
        const char* saved = std::getenv("QARVIK_WINVER");
        if (saved != nullptr && saved_winver_.empty()) saved_winver_ = saved;
        setenv("QARVIK_WINVER", winver, 1);
    }

private:
    std::string saved_winver_;
};

TEST(ModernPlatform, NameOfEachVersionFromSixOn) {
    struct {
        PlatformVersion version;
        const char* name;
    } cases[] = {
        {{6, 0, 6002, false}, "Windows Vista"},
        {{6, 0, 6002, true}, "Windows Server 2008"},
        {{6, 1, 7601, true}, "Windows Server 2008 R2"},
        {{6, 3, 9600, false}, "Windows 8.1"},
        {{6, 3, 9600, true}, "Windows Server 2012 R2"},
        {{10, 0, 21999, false}, "Windows 10"},
        {{10, 0, 22000, false}, "Windows 11"},
        {{10, 0, 14393, true}, "Windows Server 2016"},
        {{10, 0, 17763, true}, "Windows Server 2019"},
        {{10, 0, 20348, true}, "Windows Server 2022"},
        {{10, 0, 26100, true}, "Windows Server 2025"},
        {{10, 0, 30000, true}, "Windows Server 2025"},
        {{10, 0, 19045, true}, "Windows Server"},
        {{6, 4, 9841, false}, "Windows 6.4"},
        {{11, 0, 30000, true}, "Windows Server 11.0"},
    };
    for (const auto& c : cases) {
        char name[64];
        ModernWindowsName(c.version, name, sizeof name);
        EXPECT_STREQ(name, c.name);
    }
}

TEST(ModernPlatform, LanguageOfTheLabelsFollowsTheCodePageFromVersionSixOn) {
    const PlatformVersion xp = {5, 1, 2600, false};
    const PlatformVersion win10 = {10, 0, 19045, false};
    EXPECT_EQ(FindPlatformRow(xp, 932), FindPlatformRow(xp, 437));
    EXPECT_EQ(FindPlatformRow(win10, 932)->IpLabel, Cp932("IPv4 アドレス"));
    EXPECT_STREQ(FindPlatformRow(win10, 437)->IpLabel, "IPv4 Address");
    EXPECT_STREQ(FindPlatformRow(win10, 65001)->MacLabel, "Physical Address");
}

TEST_F(AdapterReportTest, EachPlatformRunsItsToolAndSetsItsColumns) {
    for (const PlatformCase& c : PlatformCases()) {
        SCOPED_TRACE(c.winver);
        ResetRunState();
        PrepareWorkFiles();
        commands_.clear();
        waits_.clear();
        for (int k = WF_ADAPTER_REPORT; k <= WF_ADAPTER_IP_LINES; ++k) std::remove(WorkFile(k).c_str());
        SetWinVer(c.winver);
        // The adapter tool writes a report with one line of each label and one other.
        on_command_ = [&](const std::string&) {
            WriteWorkFile(WF_ADAPTER_REPORT,
                          "  " + c.mac_label + " : m\r\n  other\r\n  " + c.ip_label + " : i\r\n");
        };
        std::string console = CaptureConsole([] { CaptureAdapterReport(); });
        EXPECT_EQ(State.Columns.MacColumn, c.mac_column);
        EXPECT_EQ(State.Columns.IpColumn, c.ip_column);
        EXPECT_EQ(State.Columns.NbtMacColumn, c.nbt_mac_column);
        if (c.printed == nullptr) {
            EXPECT_EQ(console, "");
            EXPECT_TRUE(commands_.empty());
            EXPECT_FALSE(FileExists(WorkFile(WF_ADAPTER_MAC_LINES)));
            continue;
        }
        EXPECT_EQ(console, c.printed);
        ASSERT_EQ(commands_.size(), 1u);
        EXPECT_EQ(commands_[0], c.command + WorkFile(WF_ADAPTER_REPORT));
        EXPECT_EQ(ReadWorkFile(WF_ADAPTER_MAC_LINES), "  " + c.mac_label + " : m\r\n");
        EXPECT_EQ(ReadWorkFile(WF_ADAPTER_IP_LINES), "  " + c.ip_label + " : i\r\n");
    }
}

// The fixed wait after the adapter tool, for tools before version 6 that may
// still be writing: here, while something holds the report open for writing.
TEST_F(AdapterReportTest, ReportSettlesBelowVersionSixWhileItIsStillBeingWritten) {
    const struct {
        const char* winver;
        bool held_open;  // the tool left a writer behind
        std::vector<int> waits;
    } cases[] = {
        {"2003", true, {2000}},
        {"6.10.0x04000001", true, {2000}},  // Windows 98 by the build number
        {"xp", false, {}},
        {"95", false, {}},
        {"vista", true, {}},
        {"10", false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.winver);
        std::FILE* writer = nullptr;
        on_command_ = [&](const std::string&) {
            WriteWorkFile(WF_ADAPTER_REPORT, "");
            if (c.held_open) writer = std::fopen(WorkFile(WF_ADAPTER_REPORT).c_str(), "ab");
        };
        waits_.clear();
        SetWinVer(c.winver);
        CaptureConsole([] { CaptureAdapterReport(); });
        if (writer != nullptr) std::fclose(writer);
        EXPECT_EQ(waits_, c.waits);
    }
}

TEST_F(AdapterReportTest, UnreadableVersionExitsWithStatusOne) {
    SetWinVer("fail");
    std::string console;
    try {
        CaptureConsole([] { CaptureAdapterReport(); });
        FAIL() << "an unreadable version must end the run";
    } catch (const ExitCalled& exit) {
        EXPECT_EQ(exit.status, 1);
    }
    EXPECT_TRUE(commands_.empty());
}

TEST_F(AdapterReportTest, WorkFilesLiveInAPrivateFolderOfTheTempDirectory) {
    SetWinVer("vista");
    CaptureConsole([] { CaptureAdapterReport(); });
    const std::string folder = State.Files.Folder;
    ASSERT_EQ(folder.rfind(temp_.Path() + "/qarvik-", 0), 0u) << folder;
    ASSERT_EQ(folder.back(), '/');
    struct stat info {};
    ASSERT_EQ(stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    for (int k = 0; k < WORK_FILE_COUNT; ++k) {
        char name[16];
        std::snprintf(name, sizeof name, "tmp%02d.txt", k);
        EXPECT_EQ(WorkFile(k), folder + name);
    }
}

// The MAC-line file on its own, on the edges of blocks and lines (MAC column 5).
TEST_F(AdapterReportTest, MacLinesAtTheEdgesOfBlocksAndLines) {
    const std::string long_tail(600, 'x');
    const struct {
        const char* name;
        std::string report;
        std::string mac_lines;
    } cases[] = {
        {"an empty line where the block has no MAC; the last MAC of a block",
         "A:\n  IP Address: a\nB:\n  Physical: 1\n  Physical: 2\n  IP Address: b\n",
         "     \r\n  Physical: 2\r\n"},
        {"blank, empty and CR-only lines start no block",
         "A:\r\r\n  Physical: 1\r\r\n\r\r\n\r\n\t\r\n  IP Address: a\r\r\n", "  Physical: 1\r\r\n"},
        {"last line without a line end", "A:\n  Physical: 1\n  IP Address: a", "  Physical: 1\r\n"},
        {"a long address line counts once",
         "A:\n  Physical: 1\n  " + long_tail + " IP Address: a\n", "  Physical: 1\r\n"},
        {"a label cut by the reader's buffer is still found",
         "A:\n  Physical: 1\n" + std::string(505, ' ') + "IP Address: a\n", "  Physical: 1\r\n"},
        {"a long MAC line is cut and closed",
         "A:\n  Physical: " + long_tail + "\n  IP Address: a\n",
         "  Physical: " + long_tail.substr(0, 511 - 12) + "\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteWorkFile(WF_ADAPTER_REPORT, c.report);
        WriteBlockMacLines(WorkFile(WF_ADAPTER_REPORT).c_str(), "Physical", "IP Address", 5,
                           WorkFile(WF_ADAPTER_MAC_LINES).c_str());
        EXPECT_EQ(ReadWorkFile(WF_ADAPTER_MAC_LINES), c.mac_lines);
    }
}

// "Label . . . : value" with the value at column.
std::string Field(int indent, const std::string& label, int column, const std::string& value) {
    std::string line = std::string(static_cast<size_t>(indent), ' ') + label + ' ';
    while (line.size() < static_cast<size_t>(column - 2)) line += ". ";
    line.resize(static_cast<size_t>(column - 2), ' ');
    return line + ": " + value + "\n";
}

// One adapter block; without MAC and address it is a disconnected one.
std::string Adapter(const std::string& heading, int indent, int column, const char* mac,
                    const char* ip, const char* ip_label = "IP Address") {
    std::string text = "\n" + heading + "\n\n";
    if (mac == nullptr && ip == nullptr) {
        text += Field(indent, "Media State", column, "Media disconnected");
    }
    text += Field(indent, "Description", column, "Adapter");
    if (mac != nullptr) text += Field(indent, "Physical Address", column, mac);
    if (ip != nullptr) text += Field(indent, ip_label, column, ip);
    return text;
}

std::string WithLineEnds(std::string text, const std::string& line_end) {
    std::string out;
    for (char c : text) out += c == '\n' ? line_end : std::string(1, c);
    return out;
}

// Reports as the real tools print them, each through the capture and the
// own-host stage: every address gets the MAC of its own adapter.
TEST_F(AdapterReportTest, OwnRowsOfRealReports) {
    const char* kLan = "00-50-2C-04-A9-1D";
    const char* kBluetooth = "00-10-60-A3-B0-6D";
    const std::string xp = "\nWindows IP Configuration\n\n" + Field(8, "Host Name", 44, "pc");
    auto xp_adapter = [](const char* name, const char* mac, const char* ip,
                         const char* ip_label = "IP Address") {
        return Adapter(std::string("Ethernet adapter ") + name + ":", 8, 44, mac, ip, ip_label);
    };
    const std::string down = xp_adapter("Local Area Connection 2", kBluetooth, nullptr);
    const std::string lan = xp_adapter("Local Area Connection", kLan, "192.168.0.73");
    const std::string nt4_ppp =
        Adapter("Ethernet adapter NdisWan4:", 8, 31, "00-00-00-00-00-00", "0.0.0.0");
    auto win98_adapter = [](const char* number, const char* mac, const char* ip) {
        std::string text = "\n" + std::string(number) + Cp932(" イーサネット アダプタ :\n\n") +
                           Field(8, Cp932("物理アドレス"), 27, mac);
        return ip == nullptr ? text : text + Field(8, Cp932("IP アドレス"), 32, ip);
    };
    const struct {
        const char* name;
        const char* winver;
        std::string report;
        const char* line_end;
        std::vector<std::pair<std::string, std::string>> rows;  // address, MAC
    } cases[] = {
        {"5.2", "2003",
         "\nWindows IP Configuration\n\n" + Field(3, "Host Name", 39, "srv") +
             Adapter("Ethernet adapter Local Area Connection:", 3, 39, "00-50-56-B9-CE-0D",
                     "10.100.10.15"),
         "\r\r\n", {{"10.100.10.15", "00-50-56-b9-ce-0d"}}},
        {"XP, disconnected first", "xp", xp + down + lan, "\r\r\n",
         {{"192.168.0.73", "00-50-2c-04-a9-1d"}}},
        {"XP, disconnected last", "xp", xp + lan + down, "\r\r\n",
         {{"192.168.0.73", "00-50-2c-04-a9-1d"}}},
        {"XP, disconnected between, autoconfiguration after", "xp",
         xp + lan + down +
             xp_adapter("Wireless", "00-0E-35-11-22-33", "169.254.7.9",
                        "Autoconfiguration IP Address"),
         "\r\r\n",
         {{"192.168.0.73", "00-50-2c-04-a9-1d"}, {"169.254.7.9", "00-0e-35-11-22-33"}}},
        {"XP, no MAC before the first address", "xp",
         xp + xp_adapter("Tunnel", nullptr, "10.0.0.1") + lan, "\r\r\n",
         {{"10.0.0.1", ""}, {"192.168.0.73", "00-50-2c-04-a9-1d"}}},
        {"2000, two addresses on one adapter", "2000",
         "\nWindows 2000 IP Configuration\n\n" +
             Adapter("Ethernet adapter LAN:", 8, 37, kLan, "192.168.0.5") +
             Field(8, "IP Address", 37, "192.168.0.6"),
         "\r\r\n",
         {{"192.168.0.5", "00-50-2c-04-a9-1d"}, {"192.168.0.6", "00-50-2c-04-a9-1d"}}},
        {"NT 4.0 with dial-up adapters", "nt4",
         "\nWindows NT IP Configuration\n" + nt4_ppp + nt4_ppp +
             Adapter("Ethernet adapter El90x1:", 8, 31, "00-60-08-A1-B2-C3", "192.168.5.20"),
         "\r\n", {{"192.168.5.20", "00-60-08-a1-b2-c3"}}},
        {"98, disconnected first", "98",
         win98_adapter("0", kBluetooth, nullptr) + win98_adapter("1", kLan, "192.168.0.73"),
         "\r\n", {{"192.168.0.73", "00-50-2c-04-a9-1d"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ResetRunState();
        PrepareWorkFiles();
        SetWinVer(c.winver);
        on_command_ = [&](const std::string&) {
            WriteWorkFile(WF_ADAPTER_REPORT, WithLineEnds(c.report, c.line_end));
        };
        CaptureConsole([] {
            CaptureAdapterReport();
            GetOwnHost();
        });
        EXPECT_EQ(State.OwnHostCount, static_cast<int32_t>(c.rows.size()));
        if (State.OwnHostCount != static_cast<int32_t>(c.rows.size())) continue;
        for (size_t k = 0; k < c.rows.size(); ++k) {
            EXPECT_EQ(State.HostTable[k].Ip, c.rows[k].first);
            EXPECT_EQ(State.HostTable[k].Mac, c.rows[k].second);
        }
    }
}

}  // namespace
