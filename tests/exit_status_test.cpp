// Runs that take no whole inventory never end with status 0 and never
// replace the last good response file: a full temp folder (the interpreter's
// redirections and the program's own work-file writes), a stand-in that
// cannot read its network, a command that died, and a file written in place
// on a full disk, which gets its old bytes back.
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "exec/command_runner.h"
#include "exec/parallel_probes.h"
#include "contract/lost_report.h"
#include "platform/platform.h"
#include "report/response_file.h"
#include "discovery/adapter_blocks.h"
#include "state/run_state.h"
#include "test_support.h"

namespace {

const std::string kLast = "LAST,10.9.0.1,00-0c-29-00-00-01\r\n";

// A tmpfs of its own, unmounted also when the test fails.
class SmallDisk {
public:
    SmallDisk(const std::string& path, int kib) : path_(path) {
        mkdir(path.c_str(), 0755);
        std::string options = "size=" + std::to_string(kib) + "k";
        mounted_ = mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~SmallDisk() {
        if (mounted_) umount2(path_.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return mounted_; }
    // Fills the disk until at most free_kib KiB are left.
    void FillTo(int free_kib) const {
        std::FILE* file = std::fopen((path_ + "/filler").c_str(), "wb");
        std::string block(1024, 'f');
        while (file != nullptr && FreeKib() > free_kib &&
               std::fwrite(block.data(), 1, block.size(), file) == block.size() &&
               std::fflush(file) == 0) {
        }
        if (file != nullptr) std::fclose(file);
    }
    long FreeKib() const {
        struct statvfs info {};
        if (statvfs(path_.c_str(), &info) != 0) return 0;
        return static_cast<long>(info.f_bavail * info.f_frsize / 1024);
    }

private:
    std::string path_;
    bool mounted_ = false;
};

// A /24 where every other address answers: 253 ping and ARP reports, some
// 110 KiB of work files in a one-by-one sweep.
std::string SegmentOf254(const TempDir& dir) {
    std::string text = "machine BIG-PC\nadapter 10.9.0.254 00-A0-C9-00-00-FE\n";
    for (int i = 1; i < 254; ++i) {
        char line[96];
        std::snprintf(line, sizeof line, "host 10.9.0.%d 00-0C-29-00-00-%02X HOST%d up\n", i, i,
                      i);
        text += line;
    }
    WriteFileBytes(dir.File("net254.txt"), text);
    return dir.File("net254.txt");
}

TEST(ExitStatus, FullTempFolderEndsTheRunAndKeepsTheLastInventory) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small disk needs root";
    TempDir dir;
    const std::string network = SegmentOf254(dir);
    for (int free_kib : {0, 8, 32, 64}) {
        for (const char* probes : {"/p1", "/p255"}) {
            SCOPED_TRACE(std::to_string(free_kib) + " KiB free, " + probes);
            SmallDisk disk(dir.File("disk"), 112);
            if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
            disk.FillTo(free_kib);
            mkdir(dir.File("work").c_str(), 0755);
            WriteFileBytes(dir.File("work/rsp.txt"), kLast);
            QarvikRun run;
            run.Args = {probes};
            run.Network = network;
            run.TmpDir = dir.File("disk") + "/";
            run.Comspec = WINCMD_PATH;
            RunQarvik(dir, &run);

            EXPECT_EQ(run.ExitStatus, 3) << run.Console;
            const std::string said = "A work file could not be written whole: no inventory taken, "
                                     "the response file is left as it was : " +
                                     dir.File("disk") + "/qarvik-";
            const size_t line = run.Console.rfind(said);
            ASSERT_NE(line, std::string::npos) << run.Console;
            const std::string folder = "qarvik-" + run.Console.substr(line + said.size(), 6);
            EXPECT_EQ(run.Console.substr(line + said.size() + 6), "/\n");
            EXPECT_TRUE(line == 0 || run.Console[line - 1] == '\n')  // not run on from the marks
                << run.Console;
            // The reason once: no line from each command that met the full disk.
            EXPECT_EQ(run.Errors,
                      "qarvik: " + dir.File("disk") + "/" + folder + "/: No space left on device\n");
            EXPECT_EQ(ReadFileBytes(dir.File("work/rsp.txt")), kLast);
            EXPECT_EQ(FolderEntries(dir.File("work")), std::vector<std::string>{"rsp.txt"});
            EXPECT_EQ(FolderEntries(dir.File("disk")), std::vector<std::string>{"filler"});
        }
    }
}

// The stand-in says why it cannot see the network, and the run does not
// pass for a machine without an address.
TEST(ExitStatus, NetworkFileThatCannotBeReadEndsTheRunWithStatus3) {
    TempDir dir;
    mkdir(dir.File("folder").c_str(), 0755);
    ASSERT_EQ(mkfifo(dir.File("pipe").c_str(), 0600), 0);  // no writer: a read would wait for ever
    for (const std::string& network : {dir.File("missing.txt"), dir.File("folder"), dir.File("pipe")}) {
        SCOPED_TRACE(network);
        mkdir(dir.File("work").c_str(), 0755);
        WriteFileBytes(dir.File("work/rsp.txt"), kLast);
        QarvikRun run;
        run.Network = network;
        RunQarvik(dir, &run);
        EXPECT_EQ(run.ExitStatus, 3);
        EXPECT_NE(run.Console.find("The adapter tool failed (exit status 1): no inventory taken, "
                                   "the response file is left as it was\n"),
                  std::string::npos)
            << run.Console;
        EXPECT_NE(run.Errors.find("wincmd: " + network), std::string::npos) << run.Errors;
        EXPECT_EQ(ReadFileBytes(dir.File("work/rsp.txt")), kLast);
        EXPECT_EQ(FolderEntries(dir.File("tmp")), std::vector<std::string>{});
    }
}

// A redirection that cannot be opened or written whole: one line on standard
// error, and a status that says the report was lost and why.
TEST(ExitStatus, StandInInterpreterTellsALostReportByItsStatus) {
    TempDir dir;
    struct {
        std::string target;
        int error;
    } cases[] = {
        {"/dev/full", ENOSPC},
        {dir.File("no-folder/tmp00.txt"), ENOENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        std::string out;
        std::string err;
        int status = RunWincmd("ipconfig /all > " + c.target, {}, &out, &err);
        EXPECT_EQ(status, LostReportStatus(c.error));
        EXPECT_EQ(LostReportError(status), c.error);
        EXPECT_NE(err.find("wincmd: " + c.target + ": " + std::strerror(c.error) + "\n"),
                  std::string::npos)
            << err;
    }
    std::string out;
    std::string err;
    EXPECT_EQ(RunWincmd("ping -n 1 192.168.1.1 >> " + dir.File("ping.txt"), {}, &out, &err), 0)
        << err;
}

// A command interpreter that ends by a signal, or says its command died under
// it, on one ARP query of the demo network's sweep: the command may have lost
// its report, and the run ends naming it, one by one as with probes in flight;
// so does a del that dies before the response file is written.
TEST(ExitStatus, ACommandThatDiedEndsTheRunWithStatus3) {
    struct Case {
        const char* command;  // the start of the command line it dies on
        const char* end;      // how the interpreter ends then
        const char* probes;
        const char* reason;
        const char* named;  // the start of the command line, up to the work folder
    };
    const Case cases[] = {
        {"arp -a 192.168.1.3 ", "kill -9 $$", "/p1", "arp: ended by signal 9 (Killed)",
         "arp -a 192.168.1.3 >> "},
        {"arp -a 192.168.1.3 ", "kill -9 $$", "/p8", "arp: ended by signal 9 (Killed)",
         "arp -a 192.168.1.3 > "},
        {"arp -a 192.168.1.3 ", "exit 211", "/p8",
         "arp: its process ended under the command interpreter", "arp -a 192.168.1.3 > "},
        {"del ", "kill -9 $$", "/p1", "del: ended by signal 9 (Killed)", "del "},
    };
    ASSERT_EQ(LOST_REPORT_COMMAND_DIED, 211);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.named) + c.end + " " + c.probes);
        TempDir dir;
        const std::string comspec = dir.File("dies.sh");
        WriteFileBytes(comspec, std::string("#!/bin/sh\ncase \"$2\" in \"") + c.command + "\"*) " +
                                    c.end + ";; esac\nexec " + WINCMD_PATH + " \"$@\"\n");
        ASSERT_EQ(chmod(comspec.c_str(), 0755), 0);
        mkdir(dir.File("work").c_str(), 0755);
        WriteFileBytes(dir.File("work/rsp.txt"), kLast);
        QarvikRun run;
        run.Comspec = comspec;
        run.Args = {c.probes};
        RunQarvik(dir, &run);
        EXPECT_EQ(run.ExitStatus, EXIT_NO_INVENTORY);
        const std::string message =
            "A command ended before its report was whole: no inventory taken, the response file "
            "is left as it was : " + std::string(c.named) + dir.File("tmp/");
        EXPECT_NE(run.Console.find(message), std::string::npos) << run.Console;
        EXPECT_NE(run.Errors.find(std::string("qarvik: ") + c.reason + "\n"), std::string::npos)
            << run.Errors;
        EXPECT_EQ(ReadFileBytes(dir.File("work/rsp.txt")), kLast);
        EXPECT_EQ(FolderEntries(dir.File("work")), std::vector<std::string>{"rsp.txt"});
        EXPECT_EQ(FolderEntries(dir.File("tmp")), std::vector<std::string>{});
    }
}

class OwnWorkFileWrites : public StageTest {};

// Each of the program's own work-file writers notes a write that fails.
TEST_F(OwnWorkFileWrites, AFailedWriteIsNotedAsALostWorkFile) {
    WriteWorkFile(WF_SWEEP_PINGS, "Pinging HOST1 [10.9.0.1] with 32 bytes of data:\r\n");
    WriteWorkFile(WF_ADAPTER_REPORT, "        Physical Address. . : 00-A0-C9-00-00-FE\r\n"
                                     "        IP Address. . . . . : 10.9.0.254\r\n");
    const std::string slot = WorkFile(WF_SWEEP_PINGS);
    const std::string report = WorkFile(WF_ADAPTER_REPORT);
    const std::function<void()> writers[] = {
        [&] { CollectSlotFile(slot.c_str(), "/dev/full", false); },
        [&] { FilterLines(slot.c_str(), "Pinging", "/dev/full"); },
        [&] {
            WriteBlockMacLines(report.c_str(), "Physical", "IP Address", 36, "/dev/full");
        },
    };
    for (const auto& write : writers) {
        ForgetLostWorkFile();
        write();
        ASSERT_NE(PlatformLostWorkFileReason(), nullptr);
        EXPECT_STREQ(PlatformLostWorkFileReason(), std::strerror(ENOSPC));
    }
}

TEST_F(OwnWorkFileWrites, ALostWorkFileEndsTheRunWithStatus3) {
    NoteLostWorkFile(EDQUOT);
    int status = -1;
    std::string console = CaptureConsole([&] {
        try {
            EndRunIfWorkFileLost();
        } catch (const ExitCalled& exit) {
            status = exit.status;
        }
    });
    EXPECT_EQ(status, EXIT_NO_INVENTORY);
    EXPECT_EQ(console, std::string("A work file could not be written whole: no inventory "
                                   "taken, the response file is left as it was : ") +
                           State.Files.Folder + "\n");
}

// As a user who may write the file but not its folder, on a full disk: the
// new rows do not fit, and the old bytes are written back.
TEST(ExitStatus, FileWrittenInPlaceOnAFullDiskKeepsItsOldBytes) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small disk needs root";
    TempDir dir;
    SmallDisk disk(dir.File("disk"), 64);
    if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    const std::string folder = dir.File("disk/inventory");
    const std::string path = folder + "/rsp.txt";
    mkdir(folder.c_str(), 0755);
    std::string old;
    for (int i = 0; i < 300; ++i) old += "HOST" + std::to_string(i) + ",10.9.0.1,00-0c-29-00-00-01\r\n";
    WriteFileBytes(path, old);
    const uid_t nobody = 65534;
    ASSERT_EQ(chown(path.c_str(), nobody, nobody), 0);
    ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
    disk.FillTo(0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(nobody) != 0 || setuid(nobody) != 0) _exit(100);
        ResetRunState();
        std::snprintf(State.Settings.ResFile, sizeof State.Settings.ResFile, "%s", path.c_str());
        State.Settings.Class = CLASS_C;
        for (State.HostCount = 0; State.HostCount < 3000; ++State.HostCount) {
            HostRecord& row = State.HostTable[State.HostCount];
            std::snprintf(row.Name, sizeof row.Name, "NEW-HOST-%d", State.HostCount);
            std::snprintf(row.Ip, sizeof row.Ip, "10.9.%d.%d", (State.HostCount / 250) % 250,
                          State.HostCount % 250);
        }
        WriteResponseFile();
        _exit(State.ExitStatus);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), EXIT_FILE_ERROR);
    EXPECT_EQ(ReadFileBytes(path), old);
    EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"rsp.txt"});
}

}  // namespace
