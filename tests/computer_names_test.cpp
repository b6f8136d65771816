// Computer-name stage: one resolving ping per row into work file 6, the
// "Pinging" lines filtered into work file 7, each line naming the row whose
// address it carries.
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "discovery/computer_names.h"
#include "state/run_state.h"
#include "test_support.h"

namespace {

class ComputerNamesTest : public StageTest {
protected:
    void AddRows(const std::vector<std::string>& addresses) {
        for (const std::string& address : addresses) {
            std::strcpy(State.HostTable[State.HostCount++].Ip, address.c_str());
        }
    }

    // Plays ping: writes its report for the command's address into the
    // redirection's file, emptying it for ">" and appending for ">>".
    void EmulatePing(const std::map<std::string, std::string>& names) {
        on_command_ = [names](const std::string& command) {
            bool append = command.find(" >> ") != std::string::npos;
            std::string::size_type redirect = command.find(append ? " >> " : " > ");
            std::string path = command.substr(redirect + (append ? 4 : 3));
            std::string before = command.substr(0, redirect);
            std::string address = before.substr(before.rfind(' ') + 1);
            auto name = names.find(address);
            std::string report = "\r\n";
            if (name != names.end()) {
                report += "Pinging " + name->second + " [" + address + "] with 32 bytes of data:\r\n";
            } else {
                report += "Pinging " + address + " with 32 bytes of data:\r\n";
            }
            report += "\r\nReply from " + address + ": bytes=32 time<1ms TTL=128\r\n";
            std::ofstream file(path, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
            file << report;
        };
    }

    std::string Run() { return CaptureConsole([] { GetComputerNames(); }); }

    static std::string Name(int row) { return State.HostTable[row].Name; }
};

TEST_F(ComputerNamesTest, ThreeRowsArePingedInOrderAndNamed) {
    AddRows({"192.168.1.10", "192.168.1.7", "192.168.1.9"});
    EmulatePing({{"192.168.1.10", "MYPC"}, {"192.168.1.7", "PC-SALES1"}});
    std::string console = Run();
    const std::string file6 = WorkFile(WF_NAME_PINGS);
    EXPECT_EQ(commands_, (std::vector<std::string>{
                             "ping -a -n 1 192.168.1.10 > " + file6,
                             "ping -a -n 1 192.168.1.7 >> " + file6,
                             "ping -a -n 1 192.168.1.9 >> " + file6,
                         }));
    EXPECT_EQ(console, "\tSearch 3 active hosts : <*>\n");
    EXPECT_EQ(ReadWorkFile(WF_NAME_PINGING_LINES),
              "Pinging MYPC [192.168.1.10] with 32 bytes of data:\r\n"
              "Pinging PC-SALES1 [192.168.1.7] with 32 bytes of data:\r\n"
              "Pinging 192.168.1.9 with 32 bytes of data:\r\n");
    EXPECT_EQ(Name(0), "MYPC");
    EXPECT_EQ(Name(1), "PC-SALES1");
    EXPECT_EQ(Name(2), "192.168.1.9");
}

TEST_F(ComputerNamesTest, OldReportIsReplacedByTheFirstPing) {
    WriteWorkFile(WF_NAME_PINGS, "Pinging STALE [10.0.0.1] with 32 bytes of data:\r\n");
    AddRows({"192.168.1.7"});
    EmulatePing({{"192.168.1.7", "PC-SALES1"}});
    Run();
    EXPECT_EQ(Name(0), "PC-SALES1");
}

TEST_F(ComputerNamesTest, CommandTexts) {
    struct {
        int ping_wait;
        const char* address;
        const char* expected_start;
    } cases[] = {
        {2000, "192.168.1.7", "ping -a -n 1 -w 2000 192.168.1.7 > "},
        {10000, "192.168.100.200", "ping -a -n 1 -w 10000 192.168.100.200 > "},
        {0, "", "ping -a -n 1  > "},
        {2000, "", "ping -a -n 1 -w 2000  > "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected_start);
        commands_.clear();
        State.HostCount = 0;
        State.Settings.PingWait = c.ping_wait;
        AddRows({c.address, c.address});
        WriteWorkFile(WF_NAME_PINGS, "");
        Run();
        ASSERT_EQ(commands_.size(), 2u);
        EXPECT_EQ(commands_[0], c.expected_start + WorkFile(WF_NAME_PINGS));
        std::string second = c.expected_start;
        second.replace(second.size() - 2, 1, ">>");
        EXPECT_EQ(commands_[1], second + WorkFile(WF_NAME_PINGS));
    }
}

TEST_F(ComputerNamesTest, LongestCommandIsNotCutAndPathsWithBlanksAreQuoted) {
    const std::string long_path = temp_.Path() + "/" + std::string(900, 'd') + "/tmp06.txt";
    const std::string blank_path = temp_.Path() + "/my temp/tmp06.txt";
    for (const std::string& path : {long_path, blank_path}) {
        commands_.clear();
        State.HostCount = 0;
        State.Settings.PingWait = 10000;
        std::strcpy(State.Files.Path[WF_NAME_PINGS], path.c_str());
        AddRows({"192.168.100.200"});
        Run();
        std::string expected_path = path == blank_path ? "\"" + path + "\"" : path;
        ASSERT_EQ(commands_.size(), 1u);
        EXPECT_EQ(commands_[0], "ping -a -n 1 -w 10000 192.168.100.200 > " + expected_path);
    }
}

TEST_F(ComputerNamesTest, ProgressMarkAfterEveryTenRowsPastTheEleventh) {
    struct {
        int rows;
        const char* marks;
    } cases[] = {
        {0, ""}, {11, ""}, {12, "*"}, {21, "*"}, {22, "**"}, {32, "***"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rows);
        State.HostCount = c.rows;
        WriteWorkFile(WF_NAME_PINGS, "");
        std::string console = Run();
        EXPECT_EQ(console, "\tSearch " + std::to_string(c.rows) + " active hosts : <" + c.marks +
                               "*>\n");
    }
}

TEST_F(ComputerNamesTest, NameIsCutAtBlankOrLineEndAndBoundedByTheField) {
    const std::string long_name(200, 'N');
    WriteWorkFile(WF_NAME_PINGS,
                  "Pinging 192.168.1.1\r\n"                      // no blank after the name
                  "Pinging PC2 [192.168.1.2] with 32 bytes\r\n"
                  "Pinging\r\n"                                  // shorter than the name column
                  "Pinging " + long_name + " [192.168.1.4]\r\n"
                  "Pinging 192.168.1.5");                        // last line without line end
    AddRows({"192.168.1.1", "192.168.1.2", "192.168.1.3", "192.168.1.4", "192.168.1.5"});
    for (int row = 0; row < 5; ++row) std::strcpy(State.HostTable[row].Name, "OLD");
    Run();
    EXPECT_EQ(Name(0), "192.168.1.1");
    EXPECT_EQ(Name(1), "PC2");
    EXPECT_EQ(Name(2), "OLD");  // a line without an address names no row
    EXPECT_EQ(Name(3), std::string(NAME_SIZE - 1, 'N'));
    EXPECT_EQ(State.HostTable[3].Name[NAME_SIZE - 1], '\0');
    EXPECT_STREQ(State.HostTable[3].Ip, "192.168.1.4");  // nothing spilled into the Ip
    EXPECT_EQ(Name(4), "192.168.1.5");
}

TEST_F(ComputerNamesTest, RowsPastTheLastPingingLineKeepTheirNames) {
    WriteWorkFile(WF_NAME_PINGS,
                  "Pinging PC1 [192.168.1.1] with 32 bytes of data:\r\n"
                  "Request timed out.\r\n"
                  "Pinging PC2 [192.168.1.2] with 32 bytes of data:\r\n");
    AddRows({"192.168.1.1", "192.168.1.2", "192.168.1.3"});
    std::strcpy(State.HostTable[2].Name, "FROM-SWEEP");
    Run();
    EXPECT_EQ(Name(0), "PC1");
    EXPECT_EQ(Name(1), "PC2");
    EXPECT_EQ(Name(2), "FROM-SWEEP");
}

TEST_F(ComputerNamesTest, MissingReportGivesBothMessagesAndKeepsNames) {
    AddRows({"192.168.1.1"});
    std::strcpy(State.HostTable[0].Name, "FROM-SWEEP");
    std::string console = Run();
    EXPECT_EQ(console, "\tSearch 1 active hosts : <*>\nFile open error : " +
                           WorkFile(WF_NAME_PINGS) + "\nGet ComputerName error \n");
    EXPECT_EQ(waits_.size(), 100u);
    EXPECT_EQ(Name(0), "FROM-SWEEP");
}

// Each ping line names the row of its address: a missing report leaves its
// row's name, an extra line or a report read twice names no other row, and a
// slot file is emptied before its next host, so nothing is collected twice.
TEST_F(ComputerNamesTest, PingLinesNameTheRowOfTheirAddress) {
    struct Case {
        const char* what;
        int probes;
        std::map<std::string, std::string> reports;  // by address; none: nothing written
        std::vector<std::string> names;              // rows 10.0.0.1 to 10.0.0.4
        int lines;                                   // "Pinging" lines collected
    };
    auto line = [](const std::string& name, const std::string& address) {
        return "Pinging " + name + " [" + address + "] with 32 bytes of data:\r\n";
    };
    const std::string a = line("PC-A", "10.0.0.1"), b = line("PC-B", "10.0.0.2"),
                      c = line("PC-C", "10.0.0.3"), d = line("PC-D", "10.0.0.4");
    const std::vector<Case> cases = {
        {"every report", 1, {{"10.0.0.1", a}, {"10.0.0.2", b}, {"10.0.0.3", c}, {"10.0.0.4", d}},
         {"PC-A", "PC-B", "PC-C", "PC-D"}, 4},
        {"missing report", 1, {{"10.0.0.1", a}, {"10.0.0.3", c}, {"10.0.0.4", d}},
         {"PC-A", "SWEPT-2", "PC-C", "PC-D"}, 3},
        {"first report missing", 1, {{"10.0.0.2", b}, {"10.0.0.3", c}, {"10.0.0.4", d}},
         {"SWEPT-1", "PC-B", "PC-C", "PC-D"}, 3},
        {"extra report", 1,
         {{"10.0.0.1", a}, {"10.0.0.2", b + a + line("STRAY", "10.0.0.9")}, {"10.0.0.3", c},
          {"10.0.0.4", d}},
         {"PC-A", "PC-B", "PC-C", "PC-D"}, 6},
        {"missing report in flight", 2, {{"10.0.0.1", a}, {"10.0.0.2", b}, {"10.0.0.4", d}},
         {"PC-A", "PC-B", "SWEPT-3", "PC-D"}, 3},
        {"stale slot", 2, {{"10.0.0.1", a}, {"10.0.0.2", b}, {"10.0.0.3", c}},
         {"PC-A", "PC-B", "PC-C", "SWEPT-4"}, 3},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        ResetRunState();
        PrepareWorkFiles();
        State.Settings.Probes = k.probes;
        AddRows({"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"});
        for (int row = 0; row < 4; ++row) {
            std::snprintf(State.HostTable[row].Name, NAME_SIZE, "SWEPT-%d", row + 1);
        }
        // A command for an address without a report ran nothing: no
        // redirection emptied or wrote its file.
        on_command_ = [&k](const std::string& command) {
            bool append = command.find(" >> ") != std::string::npos;
            std::string::size_type redirect = command.find(append ? " >> " : " > ");
            std::string before = command.substr(0, redirect);
            auto report = k.reports.find(before.substr(before.rfind(' ') + 1));
            if (report == k.reports.end()) return;
            std::string path = command.substr(redirect + (append ? 4 : 3));
            WriteFileBytes(path, (append ? ReadFileBytes(path) : "") + report->second);
        };
        Run();
        for (int row = 0; row < 4; ++row) EXPECT_EQ(Name(row), k.names[row]) << row;
        EXPECT_EQ(SplitLines(ReadWorkFile(WF_NAME_PINGING_LINES)).size(),
                  static_cast<size_t>(k.lines));
        RemoveWorkFolder();
    }
}

}  // namespace
