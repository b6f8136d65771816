// Whole runs of the built program against wincmd's simulated network, with
// every command line recorded: console bytes, command order, response file,
// and the work files left behind.

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

const std::string kSmallOffice = std::string(FIXTURES_PATH) + "/small_office.txt";

std::string Echo(const char* class_name, const char* network, const char* mask,
                 const std::string& output) {
    return std::string("Network Address Search Utility : Qarvik.exe(R2.1)\n\n") +
           "\tClass      = " + class_name + "\n\tNetwork    = " + network +
           "\n\tMask       = " + mask + "\n\tOutputFile = " + output + "\n";
}

std::string Stage(const char* name, const std::string& body) {
    return std::string("(Lumbrant)Start: ") + name + "\n" + body + "(Lumbrant)End  : " + name +
           "\n";
}

// The own-host trace of the small office; cr is what the report's lines hold
// before their line ends ("\r" where ipconfig ends them with CR CR LF).
std::string OwnHostTrace(const std::string& cr) {
    return "\tIP = 0.0.0.0" + cr + "\n\tIP = 10.1.2.10" + cr + "\n\tMAC= 00-A0-C9-00-00-01" + cr +
           "\n\tMAC= 00-A0-C9-00-00-02" + cr + "\n";
}

// Whatever the run left in its temp directory: no work folder, no work file.
std::vector<std::string> LeftoverWorkFiles(const TempDir& dir) {
    return FolderEntries(dir.File("tmp"));
}

// The command lines with the unique part of the work folder's name masked as
// "qarvik-*"; a run that used more than one work folder fails the test.
std::vector<std::string> MaskWorkFolder(const std::vector<std::string>& commands) {
    static const std::regex kFolder("qarvik-[A-Za-z0-9]{6}/");
    std::set<std::string> folders;
    std::vector<std::string> masked;
    for (const std::string& command : commands) {
        for (std::sregex_iterator it(command.begin(), command.end(), kFolder), end; it != end;
             ++it) {
            folders.insert(it->str());
        }
        masked.push_back(std::regex_replace(command, kFolder, "qarvik-*/"));
    }
    EXPECT_LE(folders.size(), 1u);
    return masked;
}

class EndToEnd : public ::testing::Test {
protected:
    // A work file's path as MaskWorkFolder shows it.
    std::string Tmp(const char* name) const { return dir_.File("tmp") + "/qarvik-*/" + name; }
    std::string ResponseFile() const { return ReadFileBytes(dir_.File("work/rsp.txt")); }

    QarvikRun Run(std::vector<std::string> args, const std::string& winver = "xp",
                  const std::string& network = kSmallOffice) {
        QarvikRun run;
        run.Args = std::move(args);
        run.WinVer = winver;
        run.Network = network;
        RunQarvik(dir_, &run);
        run.Commands = MaskWorkFolder(run.Commands);
        return run;
    }

    // The del commands that end a TCP/IP run: the sweep's names first, then
    // files 0 to 7.
    std::vector<std::string> TcpIpDeletions() const {
        std::vector<std::string> commands = {"del " + Tmp("tmp11.txt")};
        for (const char* name : {"tmp00.txt", "tmp01.txt", "tmp02.txt", "tmp03.txt", "tmp04.txt",
                                 "tmp05.txt", "tmp06.txt", "tmp07.txt"}) {
            commands.push_back("del " + Tmp(name));
        }
        return commands;
    }

    TempDir dir_;
};

TEST_F(EndToEnd, ClassCRunOfASmallOffice) {
    QarvikRun run = Run({});
    EXPECT_EQ(run.ExitStatus, 0);
    EXPECT_EQ(run.Errors, "");
    EXPECT_EQ(run.Console,
              Echo("C", "", "", "rsp.txt") + "\tOS         = Windows XP\n" +
                  Stage("Get Own Host", OwnHostTrace("\r")) +
                  Stage("Get Other Hosts",
                        "\tSearch 253 hosts : <" + std::string(25, '*') + "*>\n") +
                  Stage("Get Computer Name", "\tSearch 6 active hosts : <*>\n") +
                  Stage("Write Response File", ""));

    std::vector<std::string> expected = {"ipconfig /all > " + Tmp("tmp00.txt")};
    for (int i = 1; i <= 254; ++i) {
        std::string address = "10.1.2." + std::to_string(i);
        expected.push_back("ping -a -n 1 " + address + " >> " + Tmp("tmp03.txt"));
        expected.push_back("arp -a " + address + " >> " + Tmp("tmp04.txt"));
    }
    const char* rows[] = {"10.1.2.10", "10.1.2.1", "10.1.2.5", "10.1.2.200", "10.1.2.3",
                          "10.1.2.6"};
    for (const char* address : rows) {
        expected.push_back(std::string("ping -a -n 1 ") + address +
                           (expected.size() == 509 ? " > " : " >> ") + Tmp("tmp06.txt"));
    }
    for (const std::string& del : TcpIpDeletions()) expected.push_back(del);
    EXPECT_EQ(run.Commands, expected);

    EXPECT_EQ(ResponseFile(),
              "OFFICE-PC,10.1.2.10,00-a0-c9-00-00-02\r\n"
              "GATEWAY,10.1.2.1,00-0c-29-00-00-01\r\n"
              "PC-DOWN,10.1.2.5,\r\n"
              "GHOST,10.1.2.200,\r\n"
              "10.1.2.3,10.1.2.3,00-0c-29-00-00-03\r\n"
              "10.1.2.6,10.1.2.6,00-0c-29-00-00-06\r\n");
    EXPECT_EQ(LeftoverWorkFiles(dir_), std::vector<std::string>{});
}

// The same small subnet on every platform: only the platform line and the
// adapter command differ.
TEST_F(EndToEnd, EveryPlatformFindsTheSameHosts) {
    struct Case {
        const char* winver;
        const char* os_line;
        std::string adapter_command;
        const char* cr;  // before each report line end
    };
    const Case cases[] = {
        {"95", "\tOS         = Windows 95\n", Cp932("winipcfg /全 /ﾊﾞｯﾁ "), ""},
        {"98", "\tOS         = Windows 98\n", "winipcfg /all /batch ", ""},
        {"nt4", "\tOS         = Windows NT4.0\n", "ipconfig /all > ", ""},
        {"2000", "\tOS         = Windows 2000\n", "ipconfig /all > ", "\r"},
        {"2003", "\tOS         = Windows XP\n", "ipconfig /all > ", "\r"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.winver);
        QarvikRun run = Run({"/n10.1.2.0", "/m255.255.255.248"}, c.winver);
        EXPECT_EQ(run.ExitStatus, 0);
        EXPECT_EQ(run.Console,
                  Echo("C", "10.1.2.0", "255.255.255.248", "rsp.txt") + c.os_line +
                      Stage("Get Own Host", OwnHostTrace(c.cr)) +
                      Stage("Get Other Hosts", "\tSearch 5 hosts : <*>\n") +
                      Stage("Get Computer Name", "\tSearch 5 active hosts : <*>\n") +
                      Stage("Write Response File", ""));
        ASSERT_FALSE(run.Commands.empty());
        EXPECT_EQ(run.Commands[0], c.adapter_command + Tmp("tmp00.txt"));
        EXPECT_EQ(run.Commands.size(), 1u + 2 * 6 + 5 + 9);
        EXPECT_EQ(ResponseFile(),
                  "OFFICE-PC,10.1.2.10,00-a0-c9-00-00-02\r\n"
                  "GATEWAY,10.1.2.1,00-0c-29-00-00-01\r\n"
                  "PC-DOWN,10.1.2.5,\r\n"
                  "10.1.2.3,10.1.2.3,00-0c-29-00-00-03\r\n"
                  "10.1.2.6,10.1.2.6,00-0c-29-00-00-06\r\n");
        EXPECT_EQ(LeftoverWorkFiles(dir_), std::vector<std::string>{});
    }
}

// Each own address keeps the MAC of its own adapter on every platform, whatever
// adapters without an address stand before it.
TEST_F(EndToEnd, OwnRowsOfEveryAdapterKindOnEveryPlatform) {
    const std::string network = std::string(FIXTURES_PATH) + "/adapter_kinds.txt";
    for (const char* winver : {"95", "98", "me", "nt4", "2000", "xp", "2003"}) {
        SCOPED_TRACE(winver);
        QarvikRun run = Run({"/m255.255.255.252"}, winver, network);
        EXPECT_EQ(run.ExitStatus, 0);
        EXPECT_EQ(ResponseFile(),
                  "ROAMER,192.168.4.20,00-a0-c9-44-44-20\r\n"
                  "ROAMER,169.254.7.9,00-0e-35-11-22-33\r\n");
    }
}

// Platforms that the version probe does not place in its table run no adapter
// tool and print no platform line; an unreadable version ends the run at once.
TEST_F(EndToEnd, PlatformsOutsideTheTableAndAnUnreadableVersion) {
    struct Case {
        const char* winver;
        std::string after_echo;     // up to the first stage
        std::string first_command;  // empty: none runs
        int exit_status;
    };
    const Case cases[] = {
        {"me", "\tOS         = Windows 95\n", Cp932("winipcfg /全 /ﾊﾞｯﾁ ") + Tmp("tmp00.txt"), 0},
        {"vista", "\tOS         = Windows Vista\n", "ipconfig /all > " + Tmp("tmp00.txt"), 0},
        {"3.51.1057", "", "net view > " + Tmp("tmp08.txt"), 0},
        {"fail", Cp932("OSバージョン取得に失敗しました。\n"), "", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.winver);
        QarvikRun run = Run({"/cN"}, c.winver);
        EXPECT_EQ(run.ExitStatus, c.exit_status);
        const std::string start = Echo("NetBEUI", "", "", "rsp.txt") + c.after_echo;
        EXPECT_EQ(run.Console.substr(0, start.size()), start);
        if (c.first_command.empty()) {
            EXPECT_EQ(run.Console, start);
            EXPECT_TRUE(run.Commands.empty());
        } else {
            ASSERT_FALSE(run.Commands.empty());
            EXPECT_EQ(run.Commands[0], c.first_command);
        }
        EXPECT_EQ(LeftoverWorkFiles(dir_), std::vector<std::string>{});
    }
}

TEST_F(EndToEnd, PingWaitReachesEveryPing) {
    QarvikRun run = Run({"/w500", "/m255.255.255.252"});
    EXPECT_EQ(run.ExitStatus, 0);
    std::vector<std::string> pings;
    for (const std::string& command : run.Commands) {
        if (command.rfind("ping ", 0) == 0) pings.push_back(command);
    }
    EXPECT_EQ(pings, (std::vector<std::string>{
                         "ping -a -n 1 -w 500 10.1.2.9 >> " + Tmp("tmp03.txt"),
                         "ping -a -n 1 -w 500 10.1.2.10 >> " + Tmp("tmp03.txt"),
                         "ping -a -n 1 -w 500 10.1.2.10 > " + Tmp("tmp06.txt"),
                     }));
    EXPECT_EQ(ResponseFile(), "OFFICE-PC,10.1.2.10,00-a0-c9-00-00-02\r\n");
}

TEST_F(EndToEnd, GivenNetworkIsSweptInsteadOfTheOwnOne) {
    QarvikRun run = Run({"/n10.1.3.0", "/m255.255.255.248"});
    EXPECT_EQ(run.ExitStatus, 0);
    EXPECT_EQ(run.Commands[1], "ping -a -n 1 10.1.3.1 >> " + Tmp("tmp03.txt"));
    EXPECT_EQ(ResponseFile(),
              "OFFICE-PC,10.1.2.10,00-a0-c9-00-00-02\r\n"
              "NAS,10.1.3.6,00-0c-29-00-03-06\r\n");
}

// Known before any tool runs, not after the sweep.
TEST_F(EndToEnd, ResponseFileInMissingFolderEndsTheRunBeforeAnyTool) {
    QarvikRun run = Run({"/onodir/r.txt"});
    EXPECT_EQ(run.ExitStatus, 2);
    EXPECT_EQ(run.Console, Echo("C", "", "", "nodir/r.txt") +
                               Cp932("出力ファイルがオープンできません。(nodir/r.txt)\n"));
    EXPECT_EQ(run.Commands, std::vector<std::string>{});
    EXPECT_FALSE(FileExists(dir_.File("work/nodir")));
    EXPECT_EQ(LeftoverWorkFiles(dir_), std::vector<std::string>{});
}

// A mask without a host address sweeps nothing, waits for no report and
// keeps the own row, named; the count prints as it always has.
TEST_F(EndToEnd, MaskWithoutHostAddressesKeepsTheOwnRow) {
    struct {
        const char* mask;
        const char* count;
    } cases[] = {{"255.255.255.254", "-1"}, {"255.255.255.255", "-2"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mask);
        QarvikRun run = Run({std::string("/m") + c.mask});
        EXPECT_EQ(run.ExitStatus, 0);
        EXPECT_EQ(run.Console,
                  Echo("C", "", c.mask, "rsp.txt") + "\tOS         = Windows XP\n" +
                      Stage("Get Own Host", OwnHostTrace("\r")) +
                      Stage("Get Other Hosts", std::string("\tSearch ") + c.count + " hosts : <*>\n") +
                      Stage("Get Computer Name", "\tSearch 1 active hosts : <*>\n") +
                      Stage("Write Response File", ""));
        std::vector<std::string> expected = {"ipconfig /all > " + Tmp("tmp00.txt"),
                                             "ping -a -n 1 10.1.2.10 > " + Tmp("tmp06.txt")};
        for (const std::string& del : TcpIpDeletions()) expected.push_back(del);
        EXPECT_EQ(run.Commands, expected);
        EXPECT_EQ(ResponseFile(), "OFFICE-PC,10.1.2.10,00-a0-c9-00-00-02\r\n");
    }
}

// An interpreter that fails at once: the adapter tool found nothing, the run
// ends after it, and the last inventory stays as it was.
TEST_F(EndToEnd, InterpreterThatFailsLeavesTheLastInventory) {
    mkdir(dir_.File("work").c_str(), 0755);
    WriteFileBytes(dir_.File("work/rsp.txt"), "LAST,10.1.2.1,00-0c-29-00-00-01\r\n");
    QarvikRun run;
    run.Comspec = "/bin/false";
    RunQarvik(dir_, &run);
    EXPECT_EQ(run.ExitStatus, 3);
    EXPECT_EQ(run.Console, Echo("C", "", "", "rsp.txt") +
                               "\tOS         = Windows XP\nThe adapter tool failed (exit status "
                               "1): no inventory taken, the response file is left as it was\n");
    EXPECT_EQ(ResponseFile(), "LAST,10.1.2.1,00-0c-29-00-00-01\r\n");
    EXPECT_EQ(FolderEntries(dir_.File("work")), std::vector<std::string>{"rsp.txt"});
    EXPECT_EQ(LeftoverWorkFiles(dir_), std::vector<std::string>{});
}

// A tmpfs of its own, mounted for the test and removed also when it fails.
class SmallDisk {
public:
    explicit SmallDisk(const std::string& path) : path_(path) {
        mkdir(path.c_str(), 0755);
        mounted_ = mount("tmpfs", path.c_str(), "tmpfs", 0, "size=64k") == 0;
    }
    ~SmallDisk() {
        if (mounted_) umount2(path_.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return mounted_; }
    // Fills what is left with one file.
    void Fill() const {
        std::FILE* file = std::fopen((path_ + "/filler").c_str(), "wb");
        std::string block(4096, 'f');
        while (file != nullptr && std::fwrite(block.data(), 1, block.size(), file) == block.size() &&
               std::fflush(file) == 0) {
        }
        if (file != nullptr) std::fclose(file);
    }

private:
    std::string path_;
    bool mounted_ = false;
};

TEST_F(EndToEnd, FullDiskLeavesTheLastInventoryByteForByte) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small disk needs root";
    SmallDisk disk(dir_.File("disk"));
    if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    const std::string last = "LAST,10.1.2.1,00-0c-29-00-00-01\r\n";
    WriteFileBytes(dir_.File("disk/rsp.txt"), last);
    disk.Fill();
    QarvikRun run = Run({"/o" + dir_.File("disk/rsp.txt")});
    EXPECT_EQ(run.ExitStatus, 2);
    EXPECT_NE(run.Console.find(Stage("Write Response File",
                                     Cp932("出力ファイルに書き込めません。(") +
                                         dir_.File("disk/rsp.txt") + Cp932(")\n"))),
              std::string::npos)
        << run.Console;
    EXPECT_EQ(ReadFileBytes(dir_.File("disk/rsp.txt")), last);
    EXPECT_EQ(FolderEntries(dir_.File("disk")), (std::vector<std::string>{"filler", "rsp.txt"}));
    EXPECT_EQ(LeftoverWorkFiles(dir_), std::vector<std::string>{});
}

TEST_F(EndToEnd, NoValidOwnAddressEndsTheRunAndLeavesNoWorkFile) {
    QarvikRun run = Run({}, "xp", std::string(FIXTURES_PATH) + "/no_address.txt");
    EXPECT_EQ(run.ExitStatus, 0);
    EXPECT_EQ(run.Console,
              Echo("C", "", "", "rsp.txt") + "\tOS         = Windows XP\n" +
                  "(Lumbrant)Start: Get Own Host\n\tIP = 0.0.0.0\r\n" +
                  Cp932("有効なTCP/IPプロトコル,IPアドレスがありません。\n"));
    EXPECT_EQ(run.Commands, std::vector<std::string>{"ipconfig /all > " + Tmp("tmp00.txt")});
    EXPECT_EQ(LeftoverWorkFiles(dir_), std::vector<std::string>{});
    EXPECT_FALSE(FileExists(dir_.File("work/rsp.txt")));
}

TEST_F(EndToEnd, NetBeuiRunListsTheBrowseList) {
    for (const char* winver : {"xp", "nt4"}) {
        SCOPED_TRACE(winver);
        QarvikRun run = Run({"/cN"}, winver);
        EXPECT_EQ(run.ExitStatus, 0);
        EXPECT_EQ(run.Console,
                  Echo("NetBEUI", "", "", "rsp.txt") +
                      (std::string(winver) == "xp" ? "\tOS         = Windows XP\n"
                                                   : "\tOS         = Windows NT4.0\n") +
                      Stage("Get NetBEUI Info", "..\n") + Stage("Write Response File", ""));
        EXPECT_EQ(run.Commands,
                  (std::vector<std::string>{
                      "ipconfig /all > " + Tmp("tmp00.txt"),
                      "net view > " + Tmp("tmp08.txt"),
                      "nbtstat -a OFFICE-PC > " + Tmp("tmp09.txt"),
                      "nbtstat -a PC-A > " + Tmp("tmp09.txt"),
                      "del " + Tmp("tmp00.txt"),
                      "del " + Tmp("tmp01.txt"),
                      "del " + Tmp("tmp02.txt"),
                      "del " + Tmp("tmp08.txt"),
                      "del " + Tmp("tmp09.txt"),
                      "del " + Tmp("tmp10.txt"),
                  }));
        EXPECT_EQ(ResponseFile(), "OFFICE-PC,00-A0-C9-00-00-02\r\nPC-A,00-0C-29-00-00-01\r\n");
        EXPECT_EQ(LeftoverWorkFiles(dir_), std::vector<std::string>{});
    }
}

// Today's Windows in either language finds the hosts that XP finds.
TEST_F(EndToEnd, DemoNetworkInventoryOnXpAndFromVersionSixOn) {
    struct {
        const char* winver;
        const char* code_page;
        const char* os_line;
    } cases[] = {
        {"xp", "", "\tOS         = Windows XP\n"},
        {"10", "932", "\tOS         = Windows 10\n"},
        {"7", "437", "\tOS         = Windows 7\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.winver);
        QarvikRun run;
        run.WinVer = c.winver;
        run.CodePage = c.code_page;
        std::remove(dir_.File("work/rsp.txt").c_str());
        RunQarvik(dir_, &run);
        EXPECT_EQ(run.ExitStatus, 0);
        // One line a run says that the demo answers and how to reach a real segment.
        EXPECT_EQ(SplitLines(run.Errors).size(), 1u) << run.Errors;
        EXPECT_NE(run.Errors.find("QARVIK_NETWORK=live"), std::string::npos);
        EXPECT_NE(run.Console.find(c.os_line), std::string::npos) << run.Console;
        EXPECT_EQ(ResponseFile(),
                  "MYPC,192.168.1.10,00-a0-c9-12-34-56\r\n"
                  "ROUTER,192.168.1.1,00-0c-29-00-00-01\r\n"
                  "PRINTER1,192.168.1.5,00-0c-29-00-00-05\r\n"
                  "PC-SALES1,192.168.1.7,00-0c-29-aa-bb-cc\r\n"
                  "PC-SALES2,192.168.1.8,00-0c-29-aa-bb-cd\r\n"
                  "FILESERVER,192.168.1.12,00-0c-29-12-00-12\r\n"
                  "PC-ACCOUNT,192.168.1.20,00-0c-29-20-00-20\r\n"
                  "PC-DESIGN,192.168.1.21,00-0c-29-21-00-21\r\n"
                  "PC-LAPTOP,192.168.1.40,\r\n"
                  "OLD-SERVER,192.168.1.60,\r\n"
                  "192.168.1.33,192.168.1.33,00-a0-c9-33-33-33\r\n"
                  "192.168.1.34,192.168.1.34,00-a0-c9-34-34-34\r\n"
                  "192.168.1.50,192.168.1.50,00-0c-29-50-00-50\r\n");
    }
}

// On version 5.2 the values stand at column 39; the disconnected adapter listed
// first shows only a MAC line, so the own address keeps its own adapter's MAC.
TEST_F(EndToEnd, DemoNetworkOnVersion52) {
    QarvikRun run = Run({"/m255.255.255.252"}, "2003", "");
    EXPECT_EQ(run.ExitStatus, 0);
    EXPECT_NE(run.Console.find(Stage("Get Own Host",
                                     "\tIP = 192.168.1.10\r\n\tIP = 0.0.0.0\r\n"
                                     "\tMAC= 00-A0-C9-12-34-56\r\n\tMAC= 00-A0-C9-65-43-21\r\n")),
              std::string::npos)
        << run.Console;
    EXPECT_EQ(ResponseFile(), "MYPC,192.168.1.10,00-a0-c9-12-34-56\r\n");
}

}  // namespace
