// Response file: one comma-separated line per row with CR LF line ends, and
// the open and write failures reported with the file's path.
#include <cstring>
#include <string>

#include "report/response_file.h"
#include "run/run_state.h"
#include "test_support.h"

namespace {

class ResponseFileTest : public StageTest {
protected:
    void SetUp() override {
        StageTest::SetUp();
        State.Settings.Class = CLASS_C;
        SetResFile(temp_.File("rsp.txt"));
    }

    static void SetResFile(const std::string& path) {
        std::strcpy(State.Settings.ResFile, path.c_str());
    }

    static void AddRow(const char* name, const char* ip, const char* mac) {
        HostRecord& row = State.HostTable[State.HostCount++];
        std::strcpy(row.Name, name);
        std::strcpy(row.Ip, ip);
        std::strcpy(row.Mac, mac);
    }

    std::string Run() { return CaptureConsole([] { WriteResponseFile(); }); }

    static std::string WriteError(const std::string& path) {
        return Cp932("出力ファイルに書き込めません。(") + path + Cp932(")\n");
    }
};

TEST_F(ResponseFileTest, TcpIpModesWriteNameIpMacLines) {
    for (ClassMode mode : {CLASS_C, CLASS_B, CLASS_A}) {
        SCOPED_TRACE(mode);
        State.HostCount = 0;
        State.Settings.Class = mode;
        AddRow("MYPC", "192.168.1.10", "00-a0-c9-12-34-56");
        AddRow("PC-SALES1", "192.168.1.7", "00-0c-29-aa-bb-cc");
        AddRow("", "192.168.1.20", "00-0c-29-11-22-33");
        AddRow("192.168.1.9", "192.168.1.9", "");
        EXPECT_EQ(Run(), "");
        EXPECT_EQ(ReadFileBytes(State.Settings.ResFile),
                  "MYPC,192.168.1.10,00-a0-c9-12-34-56\r\n"
                  "PC-SALES1,192.168.1.7,00-0c-29-aa-bb-cc\r\n"
                  ",192.168.1.20,00-0c-29-11-22-33\r\n"
                  "192.168.1.9,192.168.1.9,\r\n");
    }
}

TEST_F(ResponseFileTest, NetBeuiModeWritesNameMacLines) {
    State.Settings.Class = CLASS_NETBEUI;
    AddRow("PC1", "", "");
    AddRow("PC2", "", "00-0C-29-AA-BB-CC");
    AddRow("", "10.0.0.1", "00-0C-29-AA-BB-DD");  // an address is never written here
    EXPECT_EQ(Run(), "");
    EXPECT_EQ(ReadFileBytes(State.Settings.ResFile),
              "PC1,\r\nPC2,00-0C-29-AA-BB-CC\r\n,00-0C-29-AA-BB-DD\r\n");
}

TEST_F(ResponseFileTest, LongestRowIsWrittenWhole) {
    const std::string name(NAME_SIZE - 1, 'N');
    const std::string mac(MAC_SIZE - 1, 'm');
    AddRow(name.c_str(), "192.168.100.200", mac.c_str());
    Run();
    EXPECT_EQ(ReadFileBytes(State.Settings.ResFile), name + ",192.168.100.200," + mac + "\r\n");
}

TEST_F(ResponseFileTest, NoRowsEmptiesAnExistingFile) {
    WriteFileBytes(State.Settings.ResFile, "OLD,192.168.1.1,00-00-00-00-00-01\r\n");
    EXPECT_EQ(Run(), "");
    EXPECT_TRUE(FileExists(State.Settings.ResFile));
    EXPECT_EQ(ReadFileBytes(State.Settings.ResFile), "");
}

TEST_F(ResponseFileTest, UnopenableFileIsReportedWithItsPathAndNotCreated) {
    const std::string path = temp_.File("missing/rsp.txt");
    SetResFile(path);
    AddRow("PC1", "192.168.1.1", "00-00-00-00-00-01");
    EXPECT_EQ(Run(), Cp932("出力ファイルがオープンできません。(") + path + Cp932(")\n"));
    EXPECT_FALSE(FileExists(path));
}

TEST_F(ResponseFileTest, FullDiskIsReportedOnceAsAWriteError) {
    if (!FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    SetResFile("/dev/full");
    // One short line fails only when flushed; many lines fail while writing.
    for (int rows : {1, 2000}) {
        SCOPED_TRACE(rows);
        State.HostCount = 0;
        for (int i = 0; i < rows; ++i) AddRow("PC1", "192.168.1.1", "00-00-00-00-00-01");
        EXPECT_EQ(Run(), WriteError("/dev/full"));
    }
}

}  // namespace
