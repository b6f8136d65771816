// The stand-in interpreter and network tools: the report lines and columns
// that Qarvik cuts its values from, per Windows version, the interpreter's
// redirections and messages, and the network file.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <string>
#include <vector>

#include "contract/windows_version.h"
#include "discovery/adapter_report.h"
#include "test_support.h"

namespace {

struct WincmdRun {
    int Status = -1;
    std::string Out;
    std::string Err;
};

WincmdRun Wincmd(const std::string& command_line, const std::string& winver = "xp",
                 const std::string& network = "", const std::string& code_page = "") {
    WincmdRun run;
    run.Status = RunWincmd(command_line,
                           {"QARVIK_WINVER=" + winver, "QARVIK_NETWORK=" + network,
                            "QARVIK_CODEPAGE=" + code_page},
                           &run.Out, &run.Err);
    return run;
}

// The lines of a report written with Windows line ends (CR LF, or CR CR LF
// where cr is "\r\r"), without them.
std::vector<std::string> ReportLines(const std::string& bytes, const std::string& cr = "\r") {
    std::vector<std::string> lines = SplitLines(bytes);
    for (std::string& line : lines) {
        const size_t text = line.size() - std::min(line.size(), cr.size());
        bool ends = line.compare(text, std::string::npos, cr) == 0;
        bool more = text > 0 && line[text - 1] == '\r';
        EXPECT_TRUE(ends && !more) << "line without its line end: " << line;
        if (ends) line.resize(line.size() - cr.size());
    }
    return lines;
}

std::vector<std::string> LinesHolding(const std::vector<std::string>& lines,
                                      const std::string& marker) {
    std::vector<std::string> found;
    for (const std::string& line : lines) {
        if (line.find(marker) != std::string::npos) found.push_back(line);
    }
    return found;
}

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::string::size_type start = 0;
    while ((start = line.find_first_not_of(' ', start)) != std::string::npos) {
        std::string::size_type end = line.find(' ', start);
        if (end == std::string::npos) end = line.size();
        words.push_back(line.substr(start, end - start));
        start = end;
    }
    return words;
}

// Three adapters, the middle one disconnected, so pairing by order shows.
const char kThreeAdapters[] =
    "machine OFFICE7\n"
    "adapter 10.1.2.3 00-A0-C9-AB-CD-EF\n"
    "adapter 0.0.0.0 00-A0-C9-00-00-02\n"
    "adapter 192.168.7.77 02-0C-29-FE-DC-BA\n";

struct AdapterCase {
    const char* winver;
    bool batch_file;  // winipcfg writes its own file
    const char* command;
    const char* mac_label;  // UTF-8
    const char* ip_label;
    int mac_column;
    int ip_column;
    const char* cr;  // the CRs before each LF
};

TEST(WincmdAdapterReport, ValuesSitAtEachVersionsColumnsInAdapterOrder) {
    const AdapterCase cases[] = {
        {"95", true, "winipcfg /全 /ﾊﾞｯﾁ ", "物理ｱﾄﾞﾚｽ", "IP ｱﾄﾞﾚｽ", 24, 29, "\r"},
        {"me", true, "winipcfg /全 /ﾊﾞｯﾁ ", "物理ｱﾄﾞﾚｽ", "IP ｱﾄﾞﾚｽ", 24, 29, "\r"},
        {"98", true, "winipcfg /all /batch ", "物理アドレス", "IP アドレス", 27, 32, "\r"},
        {"nt4", false, "ipconfig /all > ", "Physical", "IP Address", 31, 31, "\r"},
        {"2000", false, "ipconfig /all > ", "Physical", "IP Address", 37, 37, "\r\r"},
        {"xp", false, "ipconfig /all > ", "Physical", "IP Address", 44, 44, "\r\r"},
        {"2003", false, "ipconfig /all > ", "Physical", "IP Address", 39, 39, "\r\r"},
    };
    const std::vector<std::string> macs = {"00-A0-C9-AB-CD-EF", "00-A0-C9-00-00-02",
                                           "02-0C-29-FE-DC-BA"};
    const std::vector<std::string> ips = {"10.1.2.3", "0.0.0.0", "192.168.7.77"};
    TempDir dir;
    const std::string network = dir.File("net.txt");
    WriteFileBytes(network, kThreeAdapters);
    for (const AdapterCase& c : cases) {
        SCOPED_TRACE(c.winver);
        const std::string report = dir.File(std::string("report-") + c.winver + ".txt");
        WincmdRun run = Wincmd(Cp932(c.command) + report, c.winver, network);
        ASSERT_EQ(run.Status, 0) << run.Err;
        EXPECT_EQ(run.Out, "");
        std::vector<std::string> lines = ReportLines(ReadFileBytes(report), c.cr);
        std::vector<std::string> mac_lines = LinesHolding(lines, Cp932(c.mac_label));
        std::vector<std::string> ip_lines = LinesHolding(lines, Cp932(c.ip_label));
        ASSERT_EQ(mac_lines.size(), macs.size());
        ASSERT_EQ(ip_lines.size(), ips.size());
        for (size_t k = 0; k < macs.size(); ++k) {
            EXPECT_EQ(mac_lines[k].substr(c.mac_column), macs[k]) << mac_lines[k];
            EXPECT_EQ(ip_lines[k].substr(c.ip_column), ips[k]) << ip_lines[k];
        }
        EXPECT_EQ(LinesHolding(lines, "OFFICE7").size(), 1u);
    }
}

// A disconnected adapter shows its MAC and no address; a dial-up adapter and an
// autoconfiguration address are printed under their own heading and label.
TEST(WincmdAdapterReport, EveryAdapterKindAsTheRealToolsPrintIt) {
    const struct {
        const char* winver;
        const char* cr;
        const char* ppp_heading;
        size_t disconnected;       // "Media disconnected" lines
        size_t autoconfiguration;  // "Autoconfiguration IP Address" lines
    } cases[] = {
        {"98", "\r", "PPP Adapter.", 0, 0},
        {"nt4", "\r", "Ethernet adapter NdisWan2:", 1, 0},
        {"2000", "\r\r", "PPP adapter Dial-up 2:", 1, 1},
        {"xp", "\r\r", "PPP adapter Dial-up 2:", 1, 1},
        {"2003", "\r\r", "PPP adapter Dial-up 2:", 1, 1},
    };
    const std::string network = std::string(FIXTURES_PATH) + "/adapter_kinds.txt";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.winver);
        const bool win98 = c.winver == std::string("98");
        const std::string ip_label = win98 ? Cp932("IP アドレス") : "IP Address";
        std::vector<std::string> lines = ReportLines(
            Wincmd(win98 ? "winipcfg /all" : "ipconfig /all", c.winver, network).Out, c.cr);
        std::vector<std::string> addresses;
        for (const std::string& line : LinesHolding(lines, ip_label)) {
            addresses.push_back(Words(line).back());
        }
        EXPECT_EQ(addresses, (std::vector<std::string>{"0.0.0.0", "192.168.4.20", "169.254.7.9"}));
        EXPECT_EQ(LinesHolding(lines, "00-10-60-A3-B0-6D").size(), 1u);
        EXPECT_EQ(LinesHolding(lines, "Media disconnected").size(), c.disconnected);
        EXPECT_EQ(LinesHolding(lines, "Autoconfiguration IP Address").size(), c.autoconfiguration);
        EXPECT_EQ(LinesHolding(lines, c.ppp_heading).size(), 1u);
    }
}

// Before version 6, the lines whose wording differs between layouts, as the
// real reports word them.
TEST(WincmdAdapterReport, OlderLayoutsWordTheirLinesAsTheRealReports) {
    const struct {
        const char* winver;
        const char* line;
    } cases[] = {
        {"xp", "        Dhcp Enabled. . . . . . . . . . . : No"},
        {"xp", "        Connection-specific DNS Suffix  . : "},
        {"2003", "   Primary Dns Suffix  . . . . . . . : "},
        {"2003", "   DHCP Enabled. . . . . . . . . . . : No"},
        {"2000", "\tAutoconfiguration IP Address. . . : 169.254.7.9"},
        {"2000", "\tConnection-specific DNS Suffix  . : "},
    };
    const std::string network = std::string(FIXTURES_PATH) + "/adapter_kinds.txt";
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.winver) + " " + c.line);
        std::vector<std::string> lines =
            ReportLines(Wincmd("ipconfig /all", c.winver, network).Out, "\r\r");
        EXPECT_NE(std::find(lines.begin(), lines.end(), c.line), lines.end());
    }
}

// A connected, a disconnected and an autoconfigured adapter, from version 6 on.
const char kModernAdapters[] =
    "machine OFFICE10\n"
    "adapter 10.1.2.3 00-A0-C9-AB-CD-EF\n"
    "adapter - 00-A0-C9-00-00-02\n"
    "adapter 169.254.7.9 02-0C-29-FE-DC-BA\n";

TEST(WincmdModernIpconfig, MacAndIpv4ValuesAtEachLayoutsColumn) {
    const char* const english[] = {"Physical Address", "IPv4 Address",
                                   "Autoconfiguration IPv4 Address", "Media disconnected",
                                   "(Preferred) "};
    const char* const japanese[] = {"物理アドレス", "IPv4 アドレス", "自動構成 IPv4 アドレス",
                                    "メディアは接続されていません", "(優先) "};
    const struct {
        const char* winver;
        const char* code_page;
        const char* const* texts;  // MAC label, IPv4 label, autoconfiguration label, ...
        size_t column;
    } cases[] = {
        {"7", "437", english, 39},     {"2022", "1252", english, 39}, {"7", "932", japanese, 39},
        {"2008r2", "932", japanese, 39}, {"10", "932", japanese, 42}, {"2019", "932", japanese, 42},
    };
    const std::vector<std::string> macs = {"00-A0-C9-AB-CD-EF", "00-A0-C9-00-00-02",
                                           "02-0C-29-FE-DC-BA"};
    const std::vector<std::string> addresses = {"10.1.2.3", "169.254.7.9"};
    TempDir dir;
    const std::string network = dir.File("net.txt");
    WriteFileBytes(network, kModernAdapters);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.winver) + " " + c.code_page);
        std::vector<std::string> lines =
            ReportLines(Wincmd("ipconfig /all", c.winver, network, c.code_page).Out);
        std::vector<std::string> mac_lines = LinesHolding(lines, Cp932(c.texts[0]));
        std::vector<std::string> ip_lines = LinesHolding(lines, Cp932(c.texts[1]));
        ASSERT_EQ(mac_lines.size(), macs.size());
        ASSERT_EQ(ip_lines.size(), addresses.size());
        for (size_t k = 0; k < macs.size(); ++k) {
            EXPECT_EQ(mac_lines[k].substr(c.column - 2), ": " + macs[k]);
        }
        for (size_t k = 0; k < addresses.size(); ++k) {
            EXPECT_EQ(ip_lines[k].substr(c.column - 2), ": " + addresses[k] + Cp932(c.texts[4]));
        }
        EXPECT_EQ(LinesHolding(ip_lines, Cp932(c.texts[2])).size(), 1u);
        EXPECT_EQ(LinesHolding(lines, Cp932(c.texts[3])).size(), 1u);
        EXPECT_TRUE(LinesHolding(lines, "IP Address").empty());
    }
}

// Qarvik's own table of labels and columns must be the one wincmd prints.
TEST(WincmdAdapterReport, AgreesWithTheProgramsPlatformTable) {
    const struct {
        const char* winver;
        const char* mac_label;
        const char* ip_label;
        int mac_column;  // -1: the program keeps its initial column
        int ip_column;
    } cases[] = {
        {"95", "物理ｱﾄﾞﾚｽ", "IP ｱﾄﾞﾚｽ", 24, 29},
        {"98", "物理アドレス", "IP アドレス", 27, 32},
        {"nt4", "Physical", "IP Address", -1, -1},
        {"2000", "Physical", "IP Address", 37, 37},
        {"xp", "Physical", "IP Address", 44, 44},
        {"2003", "Physical", "IP Address", 39, 39},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.winver);
        PlatformVersion version{};
        ASSERT_TRUE(ParseSimulatedVersion(c.winver, &version));
        const PlatformRow* row = FindPlatformRow(version, PlatformGetReportCodePage());
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->MacLabel, Cp932(c.mac_label));
        EXPECT_EQ(row->IpLabel, Cp932(c.ip_label));
        EXPECT_EQ(row->MacColumn, c.mac_column);
        EXPECT_EQ(row->IpColumn, c.ip_column);
    }
}

TEST(WincmdAdapterReport, IpconfigIsNotOnThe95FamilyNorWinipcfgOnNt) {
    const struct {
        const char* winver;
        const char* command;
    } cases[] = {{"98", "ipconfig /all"}, {"95", "ipconfig /all"}, {"xp", "winipcfg /all /batch x"},
                 {"nt4", "winipcfg /all /batch x"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.winver) + " " + c.command);
        WincmdRun run = Wincmd(c.command, c.winver);
        EXPECT_EQ(run.Status, 1);
        EXPECT_NE(run.Err.find("is not recognized"), std::string::npos) << run.Err;
    }
}

struct PingCase {
    const char* winver;
    const char* address;
    const char* pinging;  // the "Pinging" line
    const char* answer;   // the line after the blank that follows it
};

TEST(WincmdPing, NameInBracketsWhenResolvedAndReplyWhenUp) {
    const PingCase cases[] = {
        {"xp", "192.168.1.7", "Pinging PC-SALES1 [192.168.1.7] with 32 bytes of data:",
         "Reply from 192.168.1.7: bytes=32 time<1ms TTL=128"},
        {"2000", "192.168.1.7", "Pinging PC-SALES1 [192.168.1.7] with 32 bytes of data:",
         "Reply from 192.168.1.7: bytes=32 time<10ms TTL=128"},
        {"98", "192.168.1.33", "Pinging 192.168.1.33 with 32 bytes of data:",
         "Reply from 192.168.1.33: bytes=32 time<10ms TTL=128"},
        {"xp", "192.168.1.40", "Pinging PC-LAPTOP [192.168.1.40] with 32 bytes of data:",
         "Request timed out."},
        {"xp", "192.168.1.60", "Pinging OLD-SERVER [192.168.1.60] with 32 bytes of data:",
         "Request timed out."},
        {"nt4", "192.168.1.50", "Pinging 192.168.1.50 with 32 bytes of data:",
         "Request timed out."},
        {"xp", "192.168.1.99", "Pinging 192.168.1.99 with 32 bytes of data:",
         "Request timed out."},
        {"xp", "192.168.1.10", "Pinging MYPC [192.168.1.10] with 32 bytes of data:",
         "Reply from 192.168.1.10: bytes=32 time<1ms TTL=128"},
    };
    for (const PingCase& c : cases) {
        for (const char* wait : {"", "-w 500 "}) {
            SCOPED_TRACE(std::string(c.winver) + " " + wait + c.address);
            WincmdRun run = Wincmd(std::string("ping -a -n 1 ") + wait + c.address, c.winver);
            std::vector<std::string> lines = ReportLines(run.Out);
            ASSERT_GE(lines.size(), 6u);
            EXPECT_EQ(lines[0], "");
            EXPECT_EQ(lines[1], c.pinging);
            EXPECT_EQ(lines[3], c.answer);
            EXPECT_EQ(lines[5], std::string("Ping statistics for ") + c.address + ":");
            EXPECT_EQ(LinesHolding(lines, "Pinging").size(), 1u);
        }
    }
}

TEST(WincmdPing, AddressWithoutResolvingSwitchShowsNoName) {
    WincmdRun run = Wincmd("ping -n 1 192.168.1.7");
    EXPECT_EQ(ReportLines(run.Out)[1], "Pinging 192.168.1.7 with 32 bytes of data:");
}

TEST(WincmdPing, FromVersion6TheReportLanguageAndNoEmptyLineAfterTheHeader) {
    const struct {
        const char* winver;
        const char* code_page;
        const char* command;
        const char* header;  // UTF-8
        const char* answer;
        const char* statistics;
        const char* packets;
    } cases[] = {
        {"10", "932", "ping -a -n 1 192.168.1.7",
         "PC-SALES1 [192.168.1.7]に ping を送信しています 32 バイトのデータ:",
         "192.168.1.7 からの応答: バイト数 =32 時間 <1ms TTL=128", "192.168.1.7 の ping 統計:",
         "    パケット数: 送信 = 1、受信 = 1、損失 = 0 (0% の損失)、"},
        {"7", "932", "ping -n 1 192.168.1.40",
         "192.168.1.40 に ping を送信しています 32 バイトのデータ:", "要求がタイムアウトしました。",
         "192.168.1.40 の ping 統計:",
         "    パケット数: 送信 = 1、受信 = 0、損失 = 1 (100% の損失)、"},
        {"2012", "437", "ping -a -n 1 192.168.1.7",
         "Pinging PC-SALES1 [192.168.1.7] with 32 bytes of data:",
         "Reply from 192.168.1.7: bytes=32 time<1ms TTL=128", "Ping statistics for 192.168.1.7:",
         "    Packets: Sent = 1, Received = 1, Lost = 0 (0% loss),"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.winver) + " " + c.code_page + " " + c.command);
        std::vector<std::string> lines =
            ReportLines(Wincmd(c.command, c.winver, "", c.code_page).Out);
        ASSERT_GE(lines.size(), 6u);
        EXPECT_EQ(lines[0], "");
        EXPECT_EQ(lines[1], Cp932(c.header));
        EXPECT_EQ(lines[2], Cp932(c.answer));
        EXPECT_EQ(lines[3], "");
        EXPECT_EQ(lines[4], Cp932(c.statistics));
        EXPECT_EQ(lines[5], Cp932(c.packets));
    }
}

struct ArpCase {
    const char* address;
    const char* mac;  // nullptr: not in the cache
};

TEST(WincmdArp, DynamicLineForHostsThatAnswerPingOrArp) {
    const ArpCase cases[] = {
        {"192.168.1.7", "00-0c-29-aa-bb-cc"},   // up
        {"192.168.1.50", "00-0c-29-50-00-50"},  // ARP only
        {"192.168.1.40", nullptr},              // down
        {"192.168.1.10", nullptr},              // own address
        {"192.168.1.60", nullptr},              // a DNS name only
        {"192.168.1.99", nullptr},              // nothing there
    };
    for (const ArpCase& c : cases) {
        SCOPED_TRACE(c.address);
        WincmdRun run = Wincmd(std::string("arp -a ") + c.address);
        std::vector<std::string> lines = ReportLines(run.Out);
        std::vector<std::string> dynamic = LinesHolding(lines, "dynamic");
        if (c.mac == nullptr) {
            EXPECT_TRUE(dynamic.empty());
            EXPECT_EQ(lines, std::vector<std::string>{"No ARP Entries Found"});
            continue;
        }
        ASSERT_EQ(lines.size(), 4u);
        EXPECT_EQ(lines[1], "Interface: 192.168.1.10 --- 0x2");
        EXPECT_EQ(lines[2], "  Internet Address      Physical Address      Type");
        ASSERT_EQ(dynamic.size(), 1u);
        EXPECT_EQ(Words(dynamic[0]), (std::vector<std::string>{c.address, c.mac, "dynamic"}));
        EXPECT_EQ(dynamic[0].find(c.mac), 24u);  // under its heading
    }
}

TEST(WincmdArp, FromVersion6TheTypeIsPaddedToTenBytesInTheReportLanguage) {
    const struct {
        const char* code_page;
        const char* interface;  // UTF-8
        const char* heading;
        const char* type;
    } cases[] = {
        {"437", "Interface: 192.168.1.10 --- 0xb",
         "  Internet Address      Physical Address      Type", "dynamic"},
        {"932", "インターフェイス: 192.168.1.10 --- 0xb",
         "  インターネット アドレス 物理アドレス           種類", "動的"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code_page);
        const std::string type = Cp932(c.type);
        std::vector<std::string> lines =
            ReportLines(Wincmd("arp -a 192.168.1.7", "10", "", c.code_page).Out);
        const std::vector<std::string> expected = {
            "", Cp932(c.interface), Cp932(c.heading),
            "  192.168.1.7           00-0c-29-aa-bb-cc     " + type + std::string(10 - type.size(), ' ')};
        EXPECT_EQ(lines, expected);
    }
}

// Names may hold any byte but a blank: code page 932 text, the interpreter's
// special characters, and names as long as the name column or longer.
const char kBrowseNetwork[] =
    "# browse list only\n"
    "machine HOST1\n"
    "browse alpha 00-0c-29-aa-bb-01 First floor  \n"
    "browse A&B|C<D>E^F\"G%H 00-0C-29-AA-BB-02 odd name\n"
    "browse \x83\x41 00-0C-29-AA-BB-03\n"
    "browse NAME-OF-21-CHARACTERS 00-0C-29-AA-BB-04 long\n";

TEST(WincmdNetView, ThreeHeadingLinesThenOneLinePerComputer) {
    TempDir dir;
    const std::string network = dir.File("browse.txt");
    WriteFileBytes(network, kBrowseNetwork);
    WincmdRun run = Wincmd("net view", "xp", network);
    ASSERT_EQ(run.Status, 0);
    std::vector<std::string> lines = ReportLines(run.Out);
    const std::vector<std::string> expected = {
        "Server Name            Remark",
        "",
        std::string(79, '-'),
        "\\\\alpha                First floor",
        "\\\\A&B|C<D>E^F\"G%H      odd name",
        std::string("\\\\\x83\x41") + std::string(19, ' '),
        "\\\\NAME-OF-21-CHARACTERS long",
        "The command completed successfully.",
        "",
    };
    EXPECT_EQ(lines, expected);
}

TEST(WincmdNetView, EmptyBrowseListHasNoComputerLines) {
    TempDir dir;
    WriteFileBytes(dir.File("n.txt"), "machine ME\n");
    WincmdRun run = Wincmd("net view", "xp", dir.File("n.txt"));
    EXPECT_TRUE(LinesHolding(ReportLines(run.Out), "\\\\").empty());
}

// Error 6118 goes to standard error, so the redirected report stays empty.
TEST(WincmdNetView, WithoutABrowseListVersion6OnFailsWithError6118) {
    const struct {
        const char* winver;
        const char* code_page;
        const char* message;  // UTF-8, the last of its three lines
        const char* first;
    } cases[] = {
        {"7", "437", "The list of servers for this workgroup is not currently available",
         "System error 6118 has occurred."},
        {"2016", "932", "このワークグループのサーバー一覧は現在利用できません",
         "システム エラー 6118 が発生しました。"},
    };
    TempDir dir;
    WriteFileBytes(dir.File("n.txt"), "machine ME\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.winver);
        WincmdRun run = Wincmd("net view > " + dir.File("view.txt"), c.winver, dir.File("n.txt"),
                               c.code_page);
        EXPECT_EQ(run.Status, 2);
        EXPECT_EQ(ReadFileBytes(dir.File("view.txt")), "");
        EXPECT_EQ(run.Err, Cp932(c.first) + "\r\n\r\n" + Cp932(c.message) + "\r\n");
    }
}

// Qarvik skips three lines before the computers, in either language.
TEST(WincmdNetView, FromVersion6TheComputersFollowThreeHeadingLines) {
    for (const char* code_page : {"437", "932"}) {
        SCOPED_TRACE(code_page);
        std::vector<std::string> lines = ReportLines(Wincmd("net view", "10", "", code_page).Out);
        ASSERT_GE(lines.size(), 4u);
        EXPECT_EQ(lines[2], std::string(79, '-'));
        EXPECT_EQ(lines[3].rfind("\\\\MYPC ", 0), 0u) << lines[3];
    }
}

struct NbtstatCase {
    const char* winver;
    const char* name;
    const char* mac;  // nullptr: host not found
    size_t column;
};

TEST(WincmdNbtstat, MacLineAtEachVersionsColumn) {
    const NbtstatCase cases[] = {
        {"95", "PC-SALES1", "00-0C-29-AA-BB-CC", 14},   {"98", "pc-sales1", "00-0C-29-AA-BB-CC", 14},
        {"nt4", "FileServer", "00-0C-29-12-00-12", 14}, {"2000", "mypc", "00-A0-C9-12-34-56", 18},
        {"xp", "PC-DESIGN", "00-0C-29-21-00-21", 18},   {"xp", "PC-SALES", nullptr, 0},
        {"98", "ROUTER", nullptr, 0},
    };
    for (const NbtstatCase& c : cases) {
        SCOPED_TRACE(std::string(c.winver) + " " + c.name);
        WincmdRun run = Wincmd(std::string("nbtstat -a ") + c.name, c.winver);
        std::vector<std::string> lines = ReportLines(run.Out);
        std::vector<std::string> mac_lines = LinesHolding(lines, "MAC Address");
        if (c.mac == nullptr) {
            EXPECT_TRUE(mac_lines.empty());
            EXPECT_EQ(LinesHolding(lines, "    Host not found.").size(), 1u);
            continue;
        }
        ASSERT_EQ(mac_lines.size(), 1u);
        EXPECT_EQ(mac_lines[0], std::string(c.column - 14, ' ') + "MAC Address = " + c.mac);
    }
}

TEST(WincmdNbtstat, FromVersion6TheMacLineInTheReportLanguage) {
    const struct {
        const char* code_page;
        const char* name;
        const char* line;  // UTF-8
    } cases[] = {
        {"437", "PC-SALES1", "    MAC Address = 00-0C-29-AA-BB-CC"},
        {"437", "NOPE", "    Host not found."},
        {"932", "PC-SALES1", "    MAC アドレス = 00-0C-29-AA-BB-CC"},
        {"932", "NOPE", "    ホストが見つかりません。"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.code_page) + " " + c.name);
        std::vector<std::string> lines =
            ReportLines(Wincmd(std::string("nbtstat -a ") + c.name, "11", "", c.code_page).Out);
        EXPECT_EQ(std::count(lines.begin(), lines.end(), Cp932(c.line)), 1);
    }
}

TEST(WincmdNbtstat, NamesMatchIgnoringAsciiCaseButNotInsideDoubleByteCharacters) {
    TempDir dir;
    const std::string network = dir.File("browse.txt");
    WriteFileBytes(network, kBrowseNetwork);
    const struct {
        std::string name;
        const char* mac;
    } cases[] = {
        {"ALPHA", "00-0C-29-AA-BB-01"},
        {"\x83\x41", "00-0C-29-AA-BB-03"},  // ア
        {"\x83\x61", nullptr},              // another character, not ア in lower case
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WincmdRun run = Wincmd("nbtstat -a " + c.name, "xp", network);
        std::vector<std::string> mac_lines = LinesHolding(ReportLines(run.Out), "MAC Address");
        if (c.mac == nullptr) {
            EXPECT_TRUE(mac_lines.empty());
        } else {
            ASSERT_EQ(mac_lines.size(), 1u);
            EXPECT_EQ(mac_lines[0].substr(18), c.mac);
        }
    }
}

// Windows 2000 and XP printed their English reports on Japanese systems too.
TEST(WincmdReportLanguage, VersionsBefore6PrintTheSameBytesWhateverTheCodePage) {
    const char* const commands[] = {"ping -a -n 1 192.168.1.7", "ping -n 1 192.168.1.40",
                                    "ping -n 1 nohost",         "arp -a 192.168.1.7",
                                    "arp -a 192.168.1.99",      "net view",
                                    "nbtstat -a PC-SALES1",     "nbtstat -a NOPE"};
    for (const char* winver : {"98", "nt4", "2000", "xp", "2003"}) {
        std::vector<std::string> all(std::begin(commands), std::end(commands));
        all.push_back(winver == std::string("98") ? "winipcfg /all" : "ipconfig /all");
        for (const std::string& command : all) {
            SCOPED_TRACE(std::string(winver) + " " + command);
            EXPECT_EQ(Wincmd(command, winver, "", "932").Out, Wincmd(command, winver, "", "437").Out);
        }
    }
}

TEST(WincmdInterpreter, RedirectionCreatesEmptiesAndAppends) {
    TempDir dir;
    const std::string file = dir.File("out.txt");
    WriteFileBytes(file, "left over from before\r\n");
    const std::string plain = Wincmd("net view").Out;
    ASSERT_FALSE(plain.empty());

    WincmdRun run = Wincmd("net view > " + file);
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(ReadFileBytes(file), plain);

    Wincmd("net view >> " + file);
    EXPECT_EQ(ReadFileBytes(file), plain + plain);

    Wincmd("net view >" + file);  // glued to the path
    Wincmd("net view>>" + file);
    EXPECT_EQ(ReadFileBytes(file), plain + plain);

    // A file emptied by its caller, as a slot file is, is not emptied again
    // (that would send its next report to the disk): not even its time changes.
    WriteFileBytes(file, "");
    const timespec long_ago[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), long_ago, 0), 0);
    Wincmd("del " + dir.File("none.txt") + " > " + file);  // says nothing on its output
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mtim.tv_sec, long_ago[1].tv_sec);
    Wincmd("net view > " + file);
    EXPECT_EQ(ReadFileBytes(file), plain);
}

TEST(WincmdInterpreter, QuotedWordsKeepTheirBlanks) {
    TempDir dir;
    const std::string folder = dir.File("with blank");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    const std::string file = folder + "/tmp 03.txt";
    Wincmd("ping -a -n 1 192.168.1.7 >> \"" + file + "\"");
    Wincmd("ping -a -n 1 \"192.168.1.33\" >> \"" + file + "\"");
    std::vector<std::string> pinging = LinesHolding(ReportLines(ReadFileBytes(file)), "Pinging");
    ASSERT_EQ(pinging.size(), 2u);
    EXPECT_EQ(pinging[1], "Pinging 192.168.1.33 with 32 bytes of data:");

    const std::string report = folder + "/report 0.txt";
    WincmdRun run = Wincmd("winipcfg /all /batch \"" + report + "\"", "98");
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(LinesHolding(ReportLines(ReadFileBytes(report)), Cp932("IP アドレス")).size(), 2u);

    Wincmd("del \"" + file + "\"");
    EXPECT_FALSE(FileExists(file));
}

TEST(WincmdInterpreter, UnknownCommandIsNotRecognized) {
    for (const char* line : {"format c:", "\"pong\" -a", "cmd"}) {
        SCOPED_TRACE(line);
        WincmdRun run = Wincmd(line);
        EXPECT_EQ(run.Status, 1);
        EXPECT_EQ(run.Out, "");
        std::string word = Words(line)[0];
        if (word[0] == '"') word = word.substr(1, word.size() - 2);
        EXPECT_EQ(run.Err, "'" + word +
                               "' is not recognized as an internal or external command,\n"
                               "operable program or batch file.\n");
    }
}

TEST(WincmdInterpreter, CommandNamesIgnoreCase) {
    WincmdRun run = Wincmd("NET VIEW");
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(ReportLines(run.Out)[0], "Server Name            Remark");
}

TEST(WincmdInterpreter, DelRemovesTheFileAndNamesAMissingOne) {
    TempDir dir;
    const std::string file = dir.File("tmp11.txt");
    WriteFileBytes(file, "x");
    WincmdRun run = Wincmd("del " + file);
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Err, "");
    EXPECT_FALSE(FileExists(file));

    run = Wincmd("del " + file);
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(run.Err, "Could Not Find " + file + "\n");
}

TEST(WincmdInterpreter, DelNeedsNoNetworkOrVersion) {
    TempDir dir;
    const std::string file = dir.File("f.txt");
    WriteFileBytes(file, "x");
    WincmdRun run = Wincmd("del " + file, "fail", dir.File("missing-network.txt"));
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_FALSE(FileExists(file));
}

TEST(WincmdInterpreter, UnreadableVersionIsAnError) {
    WincmdRun run = Wincmd("net view", "fail");
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(run.Err, "wincmd: QARVIK_WINVER: unknown Windows version 'fail'\n");
}

struct MalformedCase {
    std::string text;
    const char* error;  // after "wincmd: <path>"
    const char* path = nullptr;  // read instead of the text
};

TEST(WincmdNetworkFile, MalformedFileNamesFileAndLine) {
    const MalformedCase cases[] = {
        {"machine A\n\n# c\nrouter 192.168.1.1\n", ":4: unknown keyword 'router'"},
        {"machine A\nadapter 192.168.1.2\n",
         ":2: 'adapter' needs 3 or 4 fields: adapter ADDRESS|- MAC [ppp]"},
        {"machine A\nadapter 192.168.1.2 00-0C-29-00-00-01 modem\n",
         ":2: bad adapter type 'modem' (ppp)"},
        {"machine A\nadapter - 00-0C-29-00-00-01 ppp\n", ":2: a ppp adapter needs an address"},
        {"machine A\nhost 192.168.1.2 00-0C-29-00-00-01 -\n",
         ":2: 'host' needs 5 or 6 fields: host ADDRESS MAC DNS-NAME|- up|arp-only|down [RTT]"},
        {"machine A\r\nhost 192.168.1.256 00-0C-29-00-00-01 - up\r\n",
         ":2: bad address '192.168.1.256'"},
        {"machine A\nhost 192.168.1 00-0C-29-00-00-01 - up\n", ":2: bad address '192.168.1'"},
        {"machine A\nhost 0.0.0.0 00-0C-29-00-00-01 - up\n", ":2: bad address '0.0.0.0'"},
        {"machine A\nadapter 192.168.1.2 00-0C-29-00-00\n",
         ":2: bad MAC address '00-0C-29-00-00'"},
        {"machine A\n\n\n\n\n\nbrowse PC1 xyz remark\n", ":7: bad MAC address 'xyz'"},
        {"machine A\nhost 192.168.1.2 00:0C:29:00:00:01 - up\n",
         ":2: bad MAC address '00:0C:29:00:00:01'"},
        {"machine A\nhost 192.168.1.2 00-0C-29-00-00-01 - sleeping\n",
         ":2: bad host state 'sleeping' (up, arp-only or down)"},
        {"machine A\nbrowse PC1\n", ":2: 'browse' needs at least 3 fields: browse NAME MAC [REMARK]"},
        {"machine A\nmachine B\n", ":2: second 'machine' line"},
        {"machine A\nadapter 192.168.1.2 00-0C-29-00-00-01\ndns 192.168.1.2 X\n",
         ":3: address 192.168.1.2 already listed on line 2"},
        {"machine A\ntiming fast\n", ":2: bad time scale 'fast' (a number such as 1 or 0.1)"},
        {"machine A\ntiming\n", ":2: 'timing' needs 2 fields: timing SCALE"},
        {"machine A\nhost 192.168.1.2 00-0C-29-00-00-01 - up -3\n",
         ":2: bad round trip '-3' (milliseconds, such as 1 or 0.5)"},
        // Control bytes of bad input are quoted as escapes, never sent to the terminal.
        {"machine A\n\x1b[2J\x07\x7f\r\x01 x\n", ":2: unknown keyword '\\x1B[2J\\x07\\x7F\\x0D\\x01'"},
        {"machine A\nhost 192.168.1.2 00-0C-29-00-00-0\x1b - up\n",
         ":2: bad MAC address '00-0C-29-00-00-0\\x1B'"},
        // A NUL would cut a name short; a control byte would reach the terminal.
        {"machine A\n\nhost 192.168.1.2 00-0C-29-00-00-01 P" + std::string(1, '\0') + "C up\n",
         ":3: control character in the name 'P\\x00C'"},
        {"machine A\nbrowse PC 00-0C-29-00-00-01 a\x1b[2Jb\n",
         ":2: control character in the remark 'a\\x1B[2Jb'"},
        {"adapter 192.168.1.2 00-0C-29-00-00-01\n", ": no 'machine' line"},
        {"", ": no 'machine' line"},
        {"machine A\n#" + std::string(64 << 10, 'x') + "\n", ":2: line longer than 64 KiB"},
        {"machine A\n" + std::string(16 << 20, '\n'), ": the network file is larger than 16 MiB"},
        {"", ": the network file is not a regular file", "/dev/zero"},
    };
    TempDir dir;
    const std::string network = dir.File("net.txt");
    for (const MalformedCase& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 80));
        WriteFileBytes(network, c.text);
        const std::string path = c.path != nullptr ? c.path : network;
        WincmdRun run = Wincmd("ping -a -n 1 192.168.1.2", "xp", path);
        EXPECT_EQ(run.Status, 1);
        EXPECT_EQ(run.Out, "");
        EXPECT_EQ(run.Err, "wincmd: " + path + c.error + "\n");
    }
}

TEST(WincmdNetworkFile, UnreadableFileIsAnError) {
    TempDir dir;
    WincmdRun run = Wincmd("net view", "xp", dir.File("none.txt"));
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err.rfind("wincmd: " + dir.File("none.txt") + ": cannot read", 0), 0u)
        << run.Err;
}

TEST(WincmdNetworkFile, EveryStateAndNameKindIsHonoured) {
    TempDir dir;
    const std::string network = dir.File("net.txt");
    WriteFileBytes(network,
                   "  # indented comment\n"
                   "machine \x83\x41PC\n"
                   "adapter\t172.16.0.1\t00-a0-c9-00-00-01\n"
                   "host 172.16.0.2 00-0C-29-00-00-02 web&mail up\n"
                   "host 172.16.0.3 00-0C-29-00-00-03 - arp-only\n"
                   "dns 172.16.0.4 gone.example\n");
    const struct {
        const char* address;
        std::string pinging;
        bool replies;
        bool cached;
    } cases[] = {
        {"172.16.0.1", "Pinging \x83\x41PC [172.16.0.1] with 32 bytes of data:", true, false},
        {"172.16.0.2", "Pinging web&mail [172.16.0.2] with 32 bytes of data:", true, true},
        {"172.16.0.3", "Pinging 172.16.0.3 with 32 bytes of data:", false, true},
        {"172.16.0.4", "Pinging gone.example [172.16.0.4] with 32 bytes of data:", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        std::vector<std::string> ping =
            ReportLines(Wincmd(std::string("ping -a -n 1 ") + c.address, "xp", network).Out);
        ASSERT_GE(ping.size(), 4u);
        EXPECT_EQ(ping[1], c.pinging);
        EXPECT_EQ(ping[3].rfind("Reply from", 0) == 0, c.replies);
        std::string arp = Wincmd(std::string("arp -a ") + c.address, "xp", network).Out;
        EXPECT_EQ(arp.find("dynamic") != std::string::npos, c.cached);
    }
    std::vector<std::string> report =
        ReportLines(Wincmd("ipconfig /all", "xp", network).Out, "\r\r");
    std::vector<std::string> mac_lines = LinesHolding(report, "Physical");
    ASSERT_EQ(mac_lines.size(), 1u);
    EXPECT_EQ(mac_lines[0].substr(44), "00-A0-C9-00-00-01");  // upper case, as the tool prints it
    EXPECT_EQ(LinesHolding(report, "IP Address")[0].substr(44), "172.16.0.1");
}

}  // namespace

namespace {

// The demo network as the documentation shows it, cut from its code block.
// With a time model, ping waits its simulated time times the scale and reports
// the same bytes as without one.
TEST(WincmdNetworkFile, TimingMakesPingWaitAsTheRealOne) {
    TempDir dir;
    const std::string hosts =
        "machine A\nadapter 10.0.0.1 00-0C-29-00-00-01\n"
        "host 10.0.0.2 00-0C-29-00-00-02 slow up 2000\nhost 10.0.0.3 00-0C-29-00-00-03 - up\n";
    WriteFileBytes(dir.File("plain.txt"), hosts);
    WriteFileBytes(dir.File("timed.txt"), "timing 0.1\n" + hosts);
    const struct {
        const char* command;
        int least_ms;
    } cases[] = {
        {"ping -a -n 1 10.0.0.2", 200},          // its round trip
        {"ping -n 1 10.0.0.9", 400},             // no answer: 4000 ms
        {"ping -n 1 -w 1500 10.0.0.9", 150},     // no answer: the -w value
        {"ping -n 3 10.0.0.3", 200},             // requests a second apart
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        const auto start = std::chrono::steady_clock::now();
        WincmdRun timed = Wincmd(c.command, "xp", dir.File("timed.txt"));
        const auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(),
                  c.least_ms);
        EXPECT_EQ(timed.Out, Wincmd(c.command, "xp", dir.File("plain.txt")).Out);
    }
}

std::string DocumentedDemoNetwork() {
    std::string doc = ReadFileBytes(std::string(FIXTURES_PATH) + "/../../docs/stand-in.md");
    std::string::size_type section = doc.find("### The demo network");
    std::string::size_type start = doc.find("```\n", section);
    std::string::size_type end = doc.find("```\n", start + 4);
    if (section == std::string::npos || start == std::string::npos || end == std::string::npos) {
        return "";
    }
    return doc.substr(start + 4, end - start - 4);
}

TEST(WincmdNetworkFile, DocumentedDemoNetworkIsTheBuiltInOne) {
    const std::string documented = DocumentedDemoNetwork();
    ASSERT_FALSE(documented.empty());
    TempDir dir;
    const std::string network = dir.File("demo.txt");
    WriteFileBytes(network, documented);
    for (const char* command : {"ipconfig /all", "arp -a", "net view", "nbtstat -a PC-SALES1",
                                "ping -a -n 1 192.168.1.60"}) {
        SCOPED_TRACE(command);
        WincmdRun from_file = Wincmd(command, "xp", network);
        WincmdRun built_in = Wincmd(command, "xp", "");
        EXPECT_EQ(from_file.Err, "");
        EXPECT_EQ(from_file.Out, built_in.Out);
        // The adapter tool, which a run calls once, says that the demo answers.
        EXPECT_EQ(built_in.Err.empty(), command != std::string("ipconfig /all")) << built_in.Err;
    }
}

}  // namespace
