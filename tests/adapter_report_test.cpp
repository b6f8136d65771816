// The platform probe's table and the capture of the adapter report.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "run/adapter_report.h"
#include "run/run_state.h"
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
        {"2003", "\tOS         = Windows XP\n", ipconfig, "Physical", "IP Address", 44, 44, 18},
        {"vista", nullptr, "", "", "", 31, 31, 14},
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
        EXPECT_EQ(waits_, std::vector<int>{2000});
        EXPECT_EQ(ReadWorkFile(WF_ADAPTER_MAC_LINES), "  " + c.mac_label + " : m\r\n");
        EXPECT_EQ(ReadWorkFile(WF_ADAPTER_IP_LINES), "  " + c.ip_label + " : i\r\n");
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

}  // namespace
