// The NetBEUI stage: computers of the browse list and their MAC addresses.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "discovery/netbeui.h"
#include "discovery/adapter_report.h"
#include "state/run_state.h"
#include "test_support.h"

namespace {

const std::string kHeading =
    "Server Name            Remark\n"
    "\n"
    "-------------------------------------------------------------------------------\n";
const std::string kDone = "The command completed successfully.\n";

// An nbtstat -a report as Windows 2000 and XP print it: the MAC at column 18.
std::string NbtstatReport(const std::string& mac) {
    return "\r\nLocal Area Connection:\r\nNode IpAddress: [192.168.1.10] Scope Id: []\r\n\r\n"
           "           NetBIOS Remote Machine Name Table\r\n\r\n"
           "       Name               Type         Status\r\n"
           "    ---------------------------------------------\r\n"
           "    PC             <00>  UNIQUE      Registered\r\n\r\n"
           "    MAC Address = " + mac + "\r\n\r\n";
}

std::string InCommand(const std::string& path) {
    return path.find(' ') == std::string::npos ? path : "\"" + path + "\"";
}

class NetBeuiTest : public StageTest {
protected:
    void SetUp() override {
        StageTest::SetUp();
        State.Columns.NbtMacColumn = 18;  // Windows 2000 and XP
        on_command_ = [this](const std::string& command) { AnswerNbtstat(command); };
    }

    // Plays nbtstat: writes the report of the computer named in the command
    // to work file 9; a computer without a report leaves no file.
    void AnswerNbtstat(const std::string& command) {
        const std::string prefix = "nbtstat -a ";
        if (command.compare(0, prefix.size(), prefix) != 0) return;
        std::string name = command.substr(prefix.size(), command.find(" > ", prefix.size()) -
                                                             prefix.size());
        auto report = reports_.find(name);
        if (report != reports_.end()) {
            WriteWorkFile(WF_NBTSTAT_REPORT, report->second);
        } else if (other_report_) {
            WriteWorkFile(WF_NBTSTAT_REPORT, *other_report_);
        }
    }

    std::string RunStage() {
        commands_.clear();
        waits_.clear();
        return CaptureConsole(GetNetBeuiInfo);
    }

    std::string NetViewCommand() const { return "net view > " + InCommand(WorkFile(8)); }
    std::string NbtstatCommand(const std::string& name) const {
        return "nbtstat -a " + name + " > " + InCommand(WorkFile(9));
    }

    std::map<std::string, std::string> reports_;
    std::optional<std::string> other_report_;
};

TEST_F(NetBeuiTest, ThreeComputersInListOrder) {
    WriteWorkFile(WF_BROWSE_LIST, kHeading + "\\\\PC1                  Sales\n\\\\PC2\n"
                                             "\\\\PC3                  Office\n" + kDone);
    reports_ = {{"PC1", NbtstatReport("00-0C-29-00-00-01")},
                {"PC2", NbtstatReport("00-0C-29-00-00-02")},
                {"PC3", NbtstatReport("00-0C-29-00-00-03")}};

    EXPECT_EQ(RunStage(), "...\n");
    EXPECT_EQ(commands_, (std::vector<std::string>{NetViewCommand(), NbtstatCommand("PC1"),
                                                   NbtstatCommand("PC2"), NbtstatCommand("PC3")}));
    ASSERT_EQ(State.HostCount, 3);
    const char* names[] = {"PC1", "PC2", "PC3"};
    const char* macs[] = {"00-0C-29-00-00-01", "00-0C-29-00-00-02", "00-0C-29-00-00-03"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_STREQ(State.HostTable[i].Name, names[i]);
        EXPECT_STREQ(State.HostTable[i].Ip, "");
        EXPECT_STREQ(State.HostTable[i].Mac, macs[i]);
    }
}

TEST_F(NetBeuiTest, BrowseListGivesOneRowPerComputerLine) {
    struct Case {
        const char* label;
        std::string list;
        std::vector<std::string> names;
    } cases[] = {
        {"remark after the name", kHeading + "\\\\PC1                  Sales\n" + kDone, {"PC1"}},
        {"blank at position 2: empty name", kHeading + "\\\\ PC2   Remark\n", {""}},
        {"no computer line", kHeading + "There are no entries in the list.\n", {}},
        {"headings only", kHeading, {}},
        {"empty list", "", {}},
        {"first three reads skipped whatever they hold", "\\\\H0\n\\\\H1\n\\\\H2\n\\\\PC1\n",
         {"PC1"}},
        {"a 600-byte heading line counts once",
         std::string(600, 'x') + "\n\\\\H1\n\\\\H2\n\\\\PC1\n", {"PC1"}},
        {"the rest of a long line is no line of its own",
         kHeading + "\\\\" + std::string(509, 'A') + "\\\\PHANTOM rest\n\\\\PC2\n",
         {std::string(NAME_SIZE - 1, 'A'), "PC2"}},
        {"name at the end of the text", kHeading + "\\\\PC1", {"PC1"}},
        {"CR LF line ends", "a\r\n\r\n---\r\n\\\\PC1\r\n\\\\PC2          Remark\r\n",
         {"PC1", "PC2"}},
        {"other lines give nothing",
         kHeading + "\\\\PC1\nremark\n \\\\INDENTED\n\\SINGLE\n\\\\PC3\n" + kDone,
         {"PC1", "PC3"}},
        {"name cut inside its field", kHeading + "\\\\" + std::string(200, 'N') + " remark\n",
         {std::string(NAME_SIZE - 1, 'N')}},
    };
    other_report_ = NbtstatReport("00-0C-29-AA-BB-CC");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        WriteWorkFile(WF_BROWSE_LIST, c.list);
        EXPECT_EQ(RunStage(), std::string(c.names.size(), '.') + "\n");
        ASSERT_EQ(State.HostCount, static_cast<int>(c.names.size()));
        std::vector<std::string> expected_commands = {NetViewCommand()};
        for (size_t i = 0; i < c.names.size(); ++i) {
            EXPECT_EQ(State.HostTable[i].Name, c.names[i]);
            expected_commands.push_back(NbtstatCommand(c.names[i]));
        }
        EXPECT_EQ(commands_, expected_commands);
    }
}

TEST_F(NetBeuiTest, EmptyNameQueriesWithNothingBeforeTheRedirection) {
    WriteWorkFile(WF_BROWSE_LIST, kHeading + "\\\\ \n");
    RunStage();
    ASSERT_EQ(commands_.size(), 2u);
    EXPECT_EQ(commands_[1], "nbtstat -a  > " + InCommand(WorkFile(9)));
}

TEST_F(NetBeuiTest, MacIsTakenAtTheColumnOfTheLastMarkerLine) {
    const std::string xp_line = "    MAC Address = 00-0C-29-AA-BB-CC\n";
    struct Case {
        const char* label;
        int column;
        std::string report;
        const char* mac;
    } cases[] = {
        {"Windows 2000 and XP column", 18, NbtstatReport("00-0C-29-AA-BB-CC"),
         "00-0C-29-AA-BB-CC"},
        {"initial column on the same line", 14, xp_line, "s = 00-0C-29-AA-B"},
        {"case kept", 18, NbtstatReport("00-0c-29-aa-bb-cc"), "00-0c-29-aa-bb-cc"},
        {"no MAC line", 18, "Host not found.\n", ""},
        {"last line wins", 18, xp_line + "    MAC Address = 00-0C-29-11-22-33\n",
         "00-0C-29-11-22-33"},
        {"line shorter than the column", 18, "MAC Address\n", ""},
        {"a later short line empties it", 18, xp_line + "MAC Address\n", ""},
        {"line ending at the column", 18, "    MAC Address = \n", ""},
        {"fewer than 17 bytes: no line end copied", 18, "    MAC Address = 00-0C\n", "00-0C"},
        {"no line end at the end of the text", 18, "    MAC Address = 00-0C-29-AA-BB-CC",
         "00-0C-29-AA-BB-CC"},
        {"longer value cut to 17", 18, "    MAC Address = 00-0C-29-AA-BB-CC-DD\n",
         "00-0C-29-AA-BB-CC"},
    };
    WriteWorkFile(WF_BROWSE_LIST, kHeading + "\\\\PC1\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        State.Columns.NbtMacColumn = c.column;
        reports_["PC1"] = c.report;
        EXPECT_EQ(RunStage(), ".\n");
        ASSERT_EQ(State.HostCount, 1);
        EXPECT_STREQ(State.HostTable[0].Mac, c.mac);
    }
}

// From version 6 on the MAC follows the first "= " of its marker line.
TEST_F(NetBeuiTest, MacFollowsTheEqualsSignFromVersionSixOn) {
    struct {
        uint32_t code_page;
        std::string report;
        const char* mac;
    } cases[] = {
        {437, "    MAC Address = A2-DE-AD-92-7D-7F\n", "A2-DE-AD-92-7D-7F"},
        {932, Cp932("    MAC アドレス = AA-BB-CC-DD-EE-FF\n"), "AA-BB-CC-DD-EE-FF"},
        {932, Cp932("    MAC アドレス =\n"), ""},
        {437, "    MAC Address = \n", ""},
    };
    WriteWorkFile(WF_BROWSE_LIST, kHeading + "\\\\PC1\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.report);
        State.Markers = *FindPlatformRow({6, 1, 7601, false}, c.code_page)->Markers;
        reports_["PC1"] = c.report;
        EXPECT_EQ(RunStage(), ".\n");
        EXPECT_STREQ(State.HostTable[0].Mac, c.mac);
    }
}

TEST_F(NetBeuiTest, NamesUnsafeInACommandLineAreNotQueried) {
    struct Case {
        std::string name;
        bool queried;
    } cases[] = {
        {"BAD&X", false},  {"BAD|X", false},    {"BAD<X", false},
        {"BAD>X", false},  {"BAD^X", false},    {"BAD\"X", false},
        {"BAD%X", false},  {"BAD\x01X", false}, {"BAD\tX", false},
        {"BAD\x1FX", false}, {"BAD\x7FX", false},
        {Cp932("営業ソ"), true},  // bytes above 0x7F, one of them a backslash
        {"PC-2_(x).y!~", true},
    };
    reports_["PC1"] = NbtstatReport("00-0C-29-00-00-01");
    reports_["PC3"] = NbtstatReport("00-0C-29-00-00-03");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reports_[c.name] = NbtstatReport("00-0C-29-00-00-02");
        WriteWorkFile(WF_BROWSE_LIST, kHeading + "\\\\PC1\n\\\\" + c.name + "\n\\\\PC3\n");

        EXPECT_EQ(RunStage(), "...\n");
        std::vector<std::string> expected = {NetViewCommand(), NbtstatCommand("PC1")};
        if (c.queried) expected.push_back(NbtstatCommand(c.name));
        expected.push_back(NbtstatCommand("PC3"));
        EXPECT_EQ(commands_, expected);
        EXPECT_TRUE(waits_.empty());
        ASSERT_EQ(State.HostCount, 3);
        EXPECT_EQ(State.HostTable[1].Name, c.name);
        EXPECT_STREQ(State.HostTable[0].Mac, "00-0C-29-00-00-01");
        EXPECT_STREQ(State.HostTable[1].Mac, c.queried ? "00-0C-29-00-00-02" : "");
        EXPECT_STREQ(State.HostTable[2].Mac, "00-0C-29-00-00-03");
    }
}

TEST_F(NetBeuiTest, FailedQueryNeverTakesThePreviousComputersMac) {
    WriteWorkFile(WF_BROWSE_LIST, kHeading + "\\\\PC1\n\\\\PC2\n\\\\PC3\n");
    reports_["PC1"] = NbtstatReport("00-0C-29-00-00-01");  // PC2 leaves no report

    std::string console = RunStage();

    EXPECT_EQ(console, ".File open error : " + WorkFile(9) + "\n" +
                           Cp932("MACアドレス取得エラー\n"));
    EXPECT_EQ(waits_, std::vector<int>(100, 300));
    EXPECT_EQ(commands_, (std::vector<std::string>{NetViewCommand(), NbtstatCommand("PC1"),
                                                   NbtstatCommand("PC2")}));
    ASSERT_EQ(State.HostCount, 3);
    EXPECT_STREQ(State.HostTable[0].Mac, "00-0C-29-00-00-01");
    EXPECT_STREQ(State.HostTable[1].Mac, "");
    EXPECT_STREQ(State.HostTable[2].Mac, "");
}

TEST_F(NetBeuiTest, ReportsOfAnEarlierRunAreNotRead) {
    WriteWorkFile(WF_BROWSE_LIST, kHeading + "\\\\PC1\n");
    WriteWorkFile(WF_NBTSTAT_REPORT, NbtstatReport("00-0C-29-EE-EE-EE"));
    WriteWorkFile(WF_NBTSTAT_MAC_LINES, "    MAC Address = 00-0C-29-EE-EE-EE\r\n");

    EXPECT_EQ(RunStage(), "File open error : " + WorkFile(9) + "\n" +
                              Cp932("MACアドレス取得エラー\n"));
    ASSERT_EQ(State.HostCount, 1);
    EXPECT_STREQ(State.HostTable[0].Mac, "");
}

TEST_F(NetBeuiTest, MissingBrowseListGivesNoRows) {
    State.HostCount = 5;
    EXPECT_EQ(RunStage(), Cp932("コンピュータ名取得エラー\n"));
    EXPECT_EQ(State.HostCount, 0);
    EXPECT_EQ(commands_, std::vector<std::string>{NetViewCommand()});
}

TEST_F(NetBeuiTest, AtMost60000Rows) {
    std::string list = kHeading;
    char line[32];
    for (int i = 0; i < HOST_TABLE_ROWS + 10; ++i) {
        std::snprintf(line, sizeof line, "\\\\PC%05d\n", i);
        list += line;
    }
    WriteWorkFile(WF_BROWSE_LIST, list);
    on_command_ = nullptr;  // no tool answers: the first query ends the stage
    State.OwnHostCount = 7;  // lies just past the table

    std::string console = RunStage();

    EXPECT_EQ(State.HostCount, HOST_TABLE_ROWS);
    EXPECT_EQ(State.OwnHostCount, 7);
    EXPECT_STREQ(State.HostTable[0].Name, "PC00000");
    EXPECT_STREQ(State.HostTable[HOST_TABLE_ROWS - 1].Name, "PC59999");
    EXPECT_EQ(commands_.size(), 2u);
    EXPECT_EQ(waits_.size(), 100u);
    EXPECT_EQ(console, "File open error : " + WorkFile(9) + "\n" +
                           Cp932("MACアドレス取得エラー\n"));
}

TEST_F(NetBeuiTest, TempFolderWithABlankIsQuoted) {
    std::string folder = temp_.File("with blank");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    setenv("TMPDIR", folder.c_str(), 1);
    PrepareWorkFiles();
    ASSERT_EQ(WorkFile(WF_BROWSE_LIST).rfind(folder + "/qarvik-", 0), 0u);
    WriteWorkFile(WF_BROWSE_LIST, kHeading + "\\\\PC1\n");
    reports_["PC1"] = NbtstatReport("00-0C-29-00-00-01");

    EXPECT_EQ(RunStage(), ".\n");
    EXPECT_EQ(commands_, (std::vector<std::string>{
                             "net view > \"" + WorkFile(WF_BROWSE_LIST) + "\"",
                             "nbtstat -a PC1 > \"" + WorkFile(WF_NBTSTAT_REPORT) + "\""}));
    EXPECT_STREQ(State.HostTable[0].Mac, "00-0C-29-00-00-01");
}

TEST_F(NetBeuiTest, LongestNameInALongTempFolderNeverRunsACutCommand) {
    // The longest temp directory taken, with its separator.
    const size_t longest = TEMP_DIR_MAX_LENGTH;
    std::string folder = temp_.Path();
    ASSERT_LT(folder.size() + 2, longest);
    while (folder.size() + 1 < longest) {
        size_t left = longest - 1 - folder.size();  // "/" and a name each time
        size_t part = std::min<size_t>(100, left - 1);
        if (left - 1 - part == 1) --part;  // a last "/" with no name cannot be
        folder += "/" + std::string(part, 'd');
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    }
    ASSERT_EQ(folder.size() + 1, longest);
    setenv("TMPDIR", folder.c_str(), 1);
    PrepareWorkFiles();
    ASSERT_EQ(WorkFile(8).size(), folder.size() + std::string("/qarvik-XXXXXX/tmp08.txt").size());
    std::string long_name(NAME_SIZE - 1, 'L');
    WriteWorkFile(WF_BROWSE_LIST, kHeading + "\\\\" + long_name + "\n\\\\PC2\n");
    reports_[long_name] = NbtstatReport("00-0C-29-00-00-01");
    reports_["PC2"] = NbtstatReport("00-0C-29-00-00-02");

    EXPECT_EQ(RunStage(), "..\n");
    ASSERT_GE(commands_.size(), 2u);
    for (size_t i = 1; i < commands_.size(); ++i) {
        EXPECT_TRUE(commands_[i] == NbtstatCommand(long_name) ||
                    commands_[i] == NbtstatCommand("PC2"))
            << commands_[i];
    }
    EXPECT_EQ(commands_.back(), NbtstatCommand("PC2"));
    EXPECT_STREQ(State.HostTable[1].Mac, "00-0C-29-00-00-02");
}

}  // namespace
