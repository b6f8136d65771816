// Hostile input: names, reports and paths made to break the program. Whole
// runs go through wincmd; the cases too large for a sweep drive the stages
// in-process. Nothing may crash, no row may be cut inside, and nothing from
// the network may reach a command line where the interpreter would act on it.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "discovery/computer_names.h"
#include "discovery/netbeui.h"
#include "discovery/other_hosts.h"
#include "discovery/own_host.h"
#include "exec/command_runner.h"
#include "state/run_state.h"
#include "test_support.h"

namespace {

const char kSpecials[] = "&|<>^\"%";

// The lines of a file written in text mode, without their CR LF.
std::vector<std::string> TextLines(const std::string& bytes) {
    std::vector<std::string> lines = SplitLines(bytes);
    for (std::string& line : lines) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
    }
    return lines;
}

// What a command line holds before its redirection into a work file.
std::string BeforeRedirection(const std::string& command) {
    size_t at = command.rfind(" > ");
    size_t append_at = command.rfind(" >> ");
    if (append_at != std::string::npos && (at == std::string::npos || append_at > at)) {
        at = append_at;
    }
    return at == std::string::npos ? command : command.substr(0, at);
}

void ExpectSafeCommands(const std::vector<std::string>& commands) {
    for (const std::string& command : commands) {
        for (unsigned char c : BeforeRedirection(command)) {
            EXPECT_TRUE(c >= 0x20 && c != 0x7F) << command;
            EXPECT_EQ(std::strchr(kSpecials, c), nullptr) << command;
        }
    }
}

bool FieldsEndInside(const HostRecord& row) {
    return std::memchr(row.Name, '\0', sizeof row.Name) != nullptr &&
           std::memchr(row.Ip, '\0', sizeof row.Ip) != nullptr &&
           std::memchr(row.Mac, '\0', sizeof row.Mac) != nullptr;
}

bool IsDigitsAndDots(const std::string& text) {
    return text.find_first_not_of("0123456789.") == std::string::npos;
}

void ExpectSoundTable() {
    ASSERT_GE(State.HostCount, 0);
    ASSERT_LE(State.HostCount, HOST_TABLE_ROWS);
    ASSERT_LE(State.OwnHostCount, MAX_OWN_ADDRESSES);
    for (const HostRecord& row : State.HostTable) {
        ASSERT_TRUE(FieldsEndInside(row));
        ASSERT_TRUE(IsDigitsAndDots(row.Ip)) << row.Ip;
    }
}

// ---------------------------------------------------------------------------
// Whole runs through wincmd.

const std::string kNetworkStart =
    "machine MYPC\n"
    "adapter 192.168.1.3 00-A0-C9-12-34-56\n";

TEST(HostileRunTest, BrowseNamesWithInterpreterSpecialsAreNeverQueried) {
    TempDir dir;
    const std::string cp932_name = Cp932("営業部");
    const std::vector<std::string> unsafe = {"A&B", "C|D", "E<F", "G>H", "I^J", "K\"L", "M%N"};
    std::string network = kNetworkStart;
    for (size_t i = 0; i < unsafe.size(); ++i) {
        network += "browse " + unsafe[i] + " 00-0C-29-00-00-0" + std::to_string(i) + "\n";
    }
    network += "browse SAFE1 00-0C-29-AA-BB-01 first\n";
    network += "browse " + cp932_name + " 00-0C-29-AA-BB-02 sales\n";
    WriteFileBytes(dir.File("net.txt"), network);

    QarvikRun run;
    run.Args = {"/cN"};
    run.Network = dir.File("net.txt");
    RunQarvik(dir, &run);

    EXPECT_EQ(run.ExitStatus, 0) << run.Errors;
    ExpectSafeCommands(run.Commands);
    for (const std::string& command : run.Commands) {
        for (const std::string& name : unsafe) {
            EXPECT_EQ(command.find(name), std::string::npos) << command;
        }
    }
    // "G>H" run as a command would have made the file H.
    EXPECT_FALSE(FileExists(dir.File("work/H")));
    std::vector<std::string> expected;
    for (const std::string& name : unsafe) expected.push_back(name + ",");
    expected.push_back("SAFE1,00-0C-29-AA-BB-01");
    expected.push_back(cp932_name + ",00-0C-29-AA-BB-02");
    EXPECT_EQ(TextLines(ReadFileBytes(dir.File("work/rsp.txt"))), expected);
}

// A name of 300 characters spans two pieces of the line filter; its row gets
// the name cut inside the field, and the rows after it keep their own names.
// Long resolved names keep their hosts: the whole "Pinging" line reaches the
// stages, which find the address in it and cut the name to its field. A host
// that does not answer is found by its name alone, also with the longest name
// DNS allows (253 characters).
TEST(HostileRunTest, LongResolvedNamesGiveRowsCutInsideTheirFields) {
    TempDir dir;
    auto long_name = [](char letter, size_t length) {
        std::string name(length, letter);
        for (size_t i = 0; i < name.size(); i += 10) name[i] = static_cast<char>('0' + i / 10 % 10);
        for (size_t i = 63; i < name.size(); i += 64) name[i] = '.';  // DNS labels
        return name;
    };
    const std::string machine = long_name('M', 300);
    const std::string host = long_name('H', 300);
    const std::string silent = long_name('S', 253);
    WriteFileBytes(dir.File("net.txt"),
                   "machine " + machine + "\nadapter 192.168.1.3 00-A0-C9-12-34-56\n" +
                       "host 192.168.1.1 00-0C-29-00-00-01 " + host + " up\n" +
                       "host 192.168.1.2 00-0C-29-00-00-02 SHORT up\n" +
                       "host 192.168.1.4 00-0C-29-00-00-04 " + silent + " down\n");

    QarvikRun run;
    run.Args = {"/n192.168.1.0", "/m255.255.255.248"};
    run.Network = dir.File("net.txt");
    RunQarvik(dir, &run);

    EXPECT_EQ(run.ExitStatus, 0) << run.Errors;
    ExpectSafeCommands(run.Commands);
    const std::vector<std::string> expected = {
        machine.substr(0, NAME_SIZE - 1) + ",192.168.1.3,00-a0-c9-12-34-56",
        host.substr(0, NAME_SIZE - 1) + ",192.168.1.1,00-0c-29-00-00-01",
        "SHORT,192.168.1.2,00-0c-29-00-00-02",
        silent.substr(0, NAME_SIZE - 1) + ",192.168.1.4,",
    };
    EXPECT_EQ(TextLines(ReadFileBytes(dir.File("work/rsp.txt"))), expected);
}

TEST(HostileRunTest, ResponseFilePathWithBlanks) {
    TempDir dir;
    mkdir(dir.File("work").c_str(), 0755);
    mkdir(dir.File("work/dir with blank").c_str(), 0755);
    WriteFileBytes(dir.File("net.txt"), kNetworkStart + "browse PC1 00-0C-29-AA-BB-01\n");

    QarvikRun run;
    run.Args = {"/cN", "/odir with blank/out.txt"};
    run.Network = dir.File("net.txt");
    RunQarvik(dir, &run);

    EXPECT_EQ(run.ExitStatus, 0) << run.Errors;
    EXPECT_EQ(ReadFileBytes(dir.File("work/dir with blank/out.txt")), "PC1,00-0C-29-AA-BB-01\r\n");
    EXPECT_FALSE(FileExists(dir.File("work/dir")));
    EXPECT_FALSE(FileExists(dir.File("work/rsp.txt")));
}

// ---------------------------------------------------------------------------
// Stages in-process with reports no sweep could produce.

class HostileStageTest : public StageTest {
protected:
    // An "arp -a" report of one dynamic entry.
    static std::string ArpEntry(const std::string& address, const std::string& mac) {
        return "\r\nInterface: 10.0.0.1 --- 0x2\r\n"
               "  Internet Address      Physical Address      Type\r\n"
               "  " + address + std::string(22 - address.size(), ' ') + mac + "     dynamic\r\n";
    }

    static std::string Ping(const std::string& name, const std::string& address) {
        return "\r\nPinging " + name + " [" + address + "] with 32 bytes of data:\r\n\r\n" +
               "Reply from " + address + ": bytes=32 time<1ms TTL=128\r\n";
    }

    void SetOwnRow(const char* address) {
        CopyField(State.HostTable[0].Ip, ADDRESS_SIZE, address);
        State.OwnHostCount = 1;
    }

    void Harvest() {
        CaptureConsole([] {
            int next = HarvestResolvedNames(State.OwnHostCount);
            ASSERT_GE(next, State.OwnHostCount);
            ASSERT_TRUE(HarvestArpCache(next));
        });
    }
};

std::string AddressOf(int i) {
    return "10." + std::to_string((i >> 16) & 255) + "." + std::to_string((i >> 8) & 255) + "." +
           std::to_string(i & 255);
}

// Found by the filter's fuzz target and the long-name runs: a kept piece of a
// line longer than the filter's pieces, or one whose line end follows a NUL
// byte, was written without a line end, so the next kept line ran into it and
// the stages paired names and rows wrongly. Every line now gives one line,
// whole, its text ending at a NUL byte as the stages read it.
TEST_F(HostileStageTest, FilterKeepsOneOutputLinePerInputLine) {
    const std::string long_name(300, 'N');
    struct Case {
        const char* name;
        std::string input;
        std::string expected;
    } cases[] = {
        {"long line, then another", "Pinging " + long_name + " [10.0.0.1]\r\nPinging PC2\r\n",
         "Pinging " + long_name + " [10.0.0.1]\r\nPinging PC2\r\n"},
        {"marker in two pieces", "Pinging " + long_name + " Pinging\r\nPinging PC2\r\n",
         "Pinging " + long_name + " Pinging\r\nPinging PC2\r\n"},
        {"long last line without line end", "Pinging " + long_name, "Pinging " + long_name},
        {"NUL before the line end",
         std::string("Pinging A\0B\r\nPinging C\r\n", 24), "Pinging A\r\nPinging C\r\n"},
        {"NUL in a long line", "Pinging " + long_name + std::string("\0B", 2) + long_name + "\r\n",
         "Pinging " + long_name + "\r\n"},
        {"Ctrl-Z is text", "Pinging A\x1A" "B\r\nPinging C\r\n",
         "Pinging A\x1A" "B\r\nPinging C\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteWorkFile(WF_NAME_PINGS, c.input);
        CaptureConsole([this] {
            FilterLines(WorkFile(WF_NAME_PINGS).c_str(), "Pinging",
                        WorkFile(WF_NAME_PINGING_LINES).c_str());
        });
        EXPECT_EQ(ReadWorkFile(WF_NAME_PINGING_LINES), c.expected);
    }
}

TEST_F(HostileStageTest, NameOfANulLineDoesNotShiftTheNextRows) {
    State.HostCount = 3;
    for (int row = 0; row < 3; ++row) {
        CopyField(State.HostTable[row].Ip, ADDRESS_SIZE, ("10.0.0." + std::to_string(row + 1)).c_str());
    }
    on_command_ = [this](const std::string& command) {
        if (command.find(" > ") == std::string::npos) return;
        WriteWorkFile(WF_NAME_PINGS, std::string("Pinging PC1\0 [10.0.0.1]\r\n", 25) +
                                         Ping("PC2", "10.0.0.2") + Ping("PC3", "10.0.0.3"));
    };

    CaptureConsole([] { GetComputerNames(); });

    EXPECT_STREQ(State.HostTable[0].Name, "");  // its line's text ends before its address
    EXPECT_STREQ(State.HostTable[1].Name, "PC2");
    EXPECT_STREQ(State.HostTable[2].Name, "PC3");
}

TEST_F(HostileStageTest, ArpCacheOf70000EntriesStopsTheTableAt60000Rows) {
    SetOwnRow("10.0.0.1");
    WriteWorkFile(WF_SWEEP_PINGS, "");
    std::string arp;
    constexpr int kEntries = 70000;
    for (int i = 2; i < kEntries + 2; ++i) arp += ArpEntry(AddressOf(i), "00-0c-29-00-00-01");
    WriteWorkFile(WF_SWEEP_ARP, arp);

    Harvest();

    EXPECT_EQ(State.HostCount, HOST_TABLE_ROWS);
    ExpectSoundTable();
    EXPECT_STREQ(State.HostTable[1].Ip, "10.0.0.2");
    EXPECT_EQ(State.HostTable[HOST_TABLE_ROWS - 1].Ip, AddressOf(HOST_TABLE_ROWS));
    EXPECT_STREQ(State.HostTable[HOST_TABLE_ROWS - 1].Mac, "00-0c-29-00-00-01");
}

const std::string kMegabyte(1 << 20, 'x');

TEST_F(HostileStageTest, MegabyteLinesInTheSweepReportsCountOnceInsideTheirFields) {
    SetOwnRow("10.0.0.1");
    WriteWorkFile(WF_SWEEP_PINGS, "Pinging " + kMegabyte + " [10.0.0.7] with 32 bytes\r\n" +
                                      "Pinging [" + kMegabyte + "]\r\n" + Ping("PC2", "10.0.0.2"));
    WriteWorkFile(WF_SWEEP_ARP, "  10.0.0.9 " + kMegabyte + " dynamic\r\n" + "dynamic " +
                                    kMegabyte + "\r\n" + ArpEntry("10.0.0.3", "00-0c-29-00-00-03"));

    Harvest();

    ExpectSoundTable();
    // Each long line is kept whole and read once, as far as the stage's reader
    // holds it: the "Pinging" lines show no whole address there, the first ARP
    // line gives its address with the MAC word cut to its field.
    ASSERT_EQ(State.HostCount, 4);
    EXPECT_STREQ(State.HostTable[1].Name, "PC2");
    EXPECT_STREQ(State.HostTable[1].Ip, "10.0.0.2");
    EXPECT_STREQ(State.HostTable[2].Ip, "10.0.0.9");
    EXPECT_EQ(State.HostTable[2].Mac, std::string(MAC_SIZE - 1, 'x'));
    EXPECT_STREQ(State.HostTable[3].Ip, "10.0.0.3");
    EXPECT_STREQ(State.HostTable[3].Mac, "00-0c-29-00-00-03");
}

TEST_F(HostileStageTest, MegabyteAdapterLineCountsOnce) {
    State.Columns = {44, 44, 18};
    WriteWorkFile(WF_ADAPTER_IP_LINES,
                  std::string(44, ' ') + std::string(1 << 20, '1') + "\r\n");
    WriteWorkFile(WF_ADAPTER_MAC_LINES, std::string(44, ' ') + kMegabyte + "\r\n");

    CaptureConsole([] { GetOwnHost(); });

    ExpectSoundTable();
    EXPECT_EQ(State.OwnHostCount, 1);
    EXPECT_STREQ(State.HostTable[0].Ip, "111111111111111");
    EXPECT_STREQ(State.Settings.NetAdd, "111111111111111");
}

TEST_F(HostileStageTest, MegabytePingLineNamesOnlyItsOwnRow) {
    State.HostCount = 2;
    CopyField(State.HostTable[0].Ip, ADDRESS_SIZE, "10.0.0.2");
    CopyField(State.HostTable[1].Ip, ADDRESS_SIZE, "10.0.0.3");
    on_command_ = [this](const std::string& command) {
        if (command.find(" > ") != std::string::npos) {
            WriteWorkFile(WF_NAME_PINGS, "Pinging " + kMegabyte + " [10.0.0.2] with 32 bytes\r\n" +
                                             Ping("PC3", "10.0.0.3"));
        }
    };

    CaptureConsole([] { GetComputerNames(); });

    ExpectSoundTable();
    EXPECT_STREQ(State.HostTable[0].Name, "");  // its address lies past the part read
    EXPECT_STREQ(State.HostTable[1].Name, "PC3");
}

TEST_F(HostileStageTest, MegabyteBrowseAndNbtstatLines) {
    State.Columns.NbtMacColumn = 18;
    const std::string heading = "Server Name   Remark\r\n\r\n------\r\n";
    on_command_ = [&](const std::string& command) {
        if (command.rfind("net view", 0) == 0) {
            WriteWorkFile(WF_BROWSE_LIST, heading + "\\\\" + kMegabyte + "\r\n\\\\PC2  remark\r\n");
        } else {
            WriteWorkFile(WF_NBTSTAT_REPORT, "    MAC Address = " + kMegabyte + "\r\n");
        }
    };

    CaptureConsole([] { GetNetBeuiInfo(); });

    ExpectSoundTable();
    ASSERT_EQ(State.HostCount, 2);
    EXPECT_EQ(State.HostTable[0].Name, std::string(NAME_SIZE - 1, 'x'));
    EXPECT_STREQ(State.HostTable[1].Name, "PC2");
    EXPECT_EQ(State.HostTable[1].Mac, std::string(17, 'x'));
    ExpectSafeCommands(commands_);
}

}  // namespace
