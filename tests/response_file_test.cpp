// Response file: one comma-separated line per row with CR LF line ends, and
// the open and write failures reported with the file's path.
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/platform.h"

#include "report/response_file.h"
#include "state/run_state.h"
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

    // What the test folder holds besides the run's work folder.
    std::vector<std::string> FilesBesideWorkFolder() const {
        std::vector<std::string> files;
        for (const std::string& name : FolderEntries(temp_.Path())) {
            if (name.rfind("qarvik-", 0) != 0) files.push_back(name);
        }
        return files;
    }

    static mode_t FileType(const std::string& path) {
        struct stat info {};
        return lstat(path.c_str(), &info) == 0 ? info.st_mode & S_IFMT : 0;
    }

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

TEST_F(ResponseFileTest, LinkIsFollowedAndKeptAndTheFileKeepsItsMode) {
    ASSERT_EQ(mkdir(temp_.File("data").c_str(), 0755), 0);
    const std::string real = temp_.File("data/real.txt");
    WriteFileBytes(real, "OLD\r\n");
    ASSERT_EQ(chmod(real.c_str(), 0604), 0);
    ASSERT_EQ(symlink("data/real.txt", temp_.File("link.txt").c_str()), 0);
    SetResFile(temp_.File("link.txt"));
    AddRow("PC1", "192.168.1.1", "00-00-00-00-00-01");
    EXPECT_EQ(Run(), "");
    EXPECT_EQ(FileType(temp_.File("link.txt")), static_cast<mode_t>(S_IFLNK));
    EXPECT_EQ(ReadFileBytes(real), "PC1,192.168.1.1,00-00-00-00-00-01\r\n");
    struct stat info {};
    ASSERT_EQ(stat(real.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0604u);
    EXPECT_EQ(FolderEntries(temp_.File("data")), std::vector<std::string>{"real.txt"});
}

TEST_F(ResponseFileTest, LinkToNoFileYetMakesTheFileItNames) {
    ASSERT_EQ(symlink("new.txt", temp_.File("link.txt").c_str()), 0);
    SetResFile(temp_.File("link.txt"));
    AddRow("PC1", "192.168.1.1", "");
    EXPECT_EQ(Run(), "");
    EXPECT_EQ(FileType(temp_.File("link.txt")), static_cast<mode_t>(S_IFLNK));
    EXPECT_EQ(ReadFileBytes(temp_.File("new.txt")), "PC1,192.168.1.1,\r\n");
}

// A pipe, and a device like /dev/full made here (root only), are written in
// place and stay what they are.
TEST_F(ResponseFileTest, PipesAndDevicesAreWrittenInPlaceNeverReplaced) {
    const std::string fifo = temp_.File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    SetResFile(fifo);
    CheckResponseFile();  // the check before the tools must not end the reader's input
    pollfd hang_up{reader, POLLIN, 0};
    EXPECT_EQ(poll(&hang_up, 1, 0), 0);
    AddRow("PC1", "192.168.1.1", "");
    EXPECT_EQ(Run(), "");
    char bytes[64] = {};
    EXPECT_EQ(read(reader, bytes, sizeof bytes - 1), 18);
    EXPECT_STREQ(bytes, "PC1,192.168.1.1,\r\n");
    close(reader);
    EXPECT_EQ(FileType(fifo), static_cast<mode_t>(S_IFIFO));

    const std::string full = temp_.File("full");
    if (geteuid() != 0) GTEST_SKIP() << "a device is made by root only";
    ASSERT_EQ(mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
    SetResFile(full);
    EXPECT_EQ(Run(), WriteError(full));
    EXPECT_EQ(FileType(full), static_cast<mode_t>(S_IFCHR));
    EXPECT_EQ(FilesBesideWorkFolder(), (std::vector<std::string>{"fifo", "full"}));
}

// Another user's file in a sticky folder (as /tmp) may be writable, but the
// run, which puts a new file in its place, may not replace it: the check
// before the tools says so. Its owner passes. (Root only: a file is given to
// another user, and the check runs as one.)
TEST_F(ResponseFileTest, AnotherUsersFileInAStickyFolderFailsTheCheckBeforeTheTools) {
    if (geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
    const uid_t owner = 61001;
    const uid_t other = 61002;
    ASSERT_EQ(chmod(temp_.Path().c_str(), 0711), 0);  // the users may pass through
    const std::string folder = temp_.File("shared");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(chmod(folder.c_str(), 01777), 0);
    const std::string file = folder + "/rsp.txt";
    WriteFileBytes(file, "OLD\r\n");
    ASSERT_EQ(chmod(file.c_str(), 0666), 0);
    ASSERT_EQ(chown(file.c_str(), owner, owner), 0);
    for (uid_t user : {owner, other}) {
        SCOPED_TRACE(user);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (setgid(user) != 0 || setuid(user) != 0) _exit(2);
            _exit(PlatformCanWriteFile(file.c_str()) ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == (user == owner ? 0 : 1)) << status;
    }
    EXPECT_EQ(ReadFileBytes(file), "OLD\r\n");
}

// Rows found after a stage's error are written, but the run does not pass
// for a whole inventory.
TEST_F(ResponseFileTest, EmptyTableAfterAStageErrorReplacesNothing) {
    struct {
        bool stage_failed;
        int rows;
        std::string expected_file;
        int exit_status;
    } cases[] = {
        {true, 0, "OLD\r\n", EXIT_NO_INVENTORY},
        {false, 0, "", 0},  // an empty browse list
        {true, 1, "PC1,192.168.1.1,\r\n", EXIT_NO_INVENTORY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stage_failed + c.rows * 2);
        WriteFileBytes(State.Settings.ResFile, "OLD\r\n");
        State.HostCount = 0;
        State.ExitStatus = 0;
        State.StageFailed = c.stage_failed;
        for (int i = 0; i < c.rows; ++i) AddRow("PC1", "192.168.1.1", "");
        std::string console = Run();
        EXPECT_EQ(console.empty(), c.exit_status == 0) << console;
        EXPECT_EQ(ReadFileBytes(State.Settings.ResFile), c.expected_file);
        EXPECT_EQ(State.ExitStatus, c.exit_status);
    }
}

// An interruption while the new file is written removes it: the old file
// stays, and nothing is left beside it.
TEST_F(ResponseFileTest, InterruptRemovesTheNewFile) {
    WriteFileBytes(State.Settings.ResFile, "OLD\r\n");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        char new_path[4200];
        std::FILE* file = PlatformCreateReplacement(State.Settings.ResFile, new_path,
                                                    sizeof new_path);
        if (file == nullptr) _exit(1);
        std::fputs("PC1,", file);
        std::fflush(file);
        raise(SIGTERM);
        _exit(2);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_EQ(ReadFileBytes(State.Settings.ResFile), "OLD\r\n");
    EXPECT_EQ(FilesBesideWorkFolder(), std::vector<std::string>{"rsp.txt"});
}

}  // namespace
