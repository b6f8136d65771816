// Nothing stays for ever: a run removes the work folders that killed runs
// left in its temp directory, with their interpreters' sockets, and the new
// response files they were writing, wherever it is started, but never the
// folder of a run still going, nor anything not made by this program.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "test_support.h"

namespace {

const std::string kSmallOffice = std::string(FIXTURES_PATH) + "/small_office.txt";

// A folder named as a work folder, with a work file and, unless lock is
// nullptr, a lock file holding lock.
void PlantFolder(const std::string& path, const char* lock) {
    mkdir(path.c_str(), 0700);
    WriteFileBytes(path + "/tmp03.txt", "Pinging 10.1.2.1 with 32 bytes of data:\r\n");
    if (lock != nullptr) WriteFileBytes(path + "/qarvik.lock", lock);
}

// What a run writing name in folder records in its lock, the folder's
// identity taken from identity_of (the folder itself, or one that has since
// taken its place).
std::string Record(const std::string& folder, const std::string& name,
                   const std::string& identity_of) {
    struct stat info {};
    stat(identity_of.c_str(), &info);
    return "qarvik-replacement 2\n" + std::to_string(info.st_dev) + " " +
           std::to_string(info.st_ino) + "\n" + folder + "/" + name + "\n";
}

// A socket of a resident interpreter that is gone.
void PlantSocket(const std::string& path) {
    int listener = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    close(listener);
}

TEST(Leftovers, KilledRunsFoldersGoAndRunningOnesStay) {
    // The tools of a killed run end on their own; as their subreaper the test
    // waits for them, so that none still holds the killed run's lock.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    TempDir dir;
    QarvikRun killed;
    killed.Args = {"/p8"};
    killed.Network = kSmallOffice;
    killed.InterruptAfterCommands = 20;
    killed.Signal = SIGKILL;
    RunQarvik(dir, &killed);
    while (waitpid(-1, nullptr, 0) > 0) {
    }
    ASSERT_EQ(killed.ExitStatus, 128 + SIGKILL);
    const std::vector<std::string> left = FolderEntries(dir.File("tmp"));
    ASSERT_EQ(left.size(), 1u);

    const std::string tmp = dir.File("tmp/");
    PlantFolder(tmp + "qarvik-nolock", nullptr);  // being made this moment
    PlantFolder(tmp + "qarvik-held01", "");
    int held = open((tmp + "qarvik-held01/qarvik.lock").c_str(), O_RDWR);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);  // a run still going
    // A killed run whose new response file was not in place yet. A record of
    // the earlier format (a path relative to its run's folder, here a file of
    // that name in the later run's) and one whose folder has been replaced
    // name nothing.
    WriteFileBytes(dir.File("work/rsp.txt.Ab12Cd"), "HALF,10.1.2.1,\r\n");
    PlantFolder(tmp + "qarvik-dead02", Record(dir.File("work"), "rsp.txt.Ab12Cd", dir.File("work")).c_str());
    mkdir(dir.File("a").c_str(), 0755);
    WriteFileBytes(dir.File("work/rsp.txt.Ef34Gh"), "NOT THE RUN'S\r\n");
    PlantFolder(tmp + "qarvik-dead05", "rsp.txt.Ef34Gh\n");
    mkdir(dir.File("b").c_str(), 0755);
    WriteFileBytes(dir.File("b/rsp.txt.Ij56Kl"), "NOT THE RUN'S\r\n");
    PlantFolder(tmp + "qarvik-dead06", Record(dir.File("b"), "rsp.txt.Ij56Kl", dir.File("a")).c_str());
    // A killed run's folder with its interpreter's socket.
    PlantFolder(tmp + "qarvik-dead07", "");
    PlantSocket(tmp + "qarvik-dead07/wincmd.sock");
    // Not this user's, and not a name this program makes.
    PlantFolder(tmp + "qarvik-other1", "");
    ASSERT_EQ(chown((tmp + "qarvik-other1").c_str(), 65534, 65534), 0);
    PlantFolder(tmp + "qarvik-2", "");
    // A cut record names nothing.
    WriteFileBytes(dir.File("work/keep.txt"), "KEEP\r\n");
    PlantFolder(tmp + "qarvik-dead03", dir.File("work/keep.txt").c_str());

    QarvikRun next;
    next.Network = kSmallOffice;
    next.Args = {"/m255.255.255.248"};
    RunQarvik(dir, &next);
    close(held);

    EXPECT_EQ(next.ExitStatus, 0) << next.Errors;
    EXPECT_EQ(FolderEntries(dir.File("tmp")),
              (std::vector<std::string>{"qarvik-2", "qarvik-held01", "qarvik-nolock",
                                        "qarvik-other1"}));
    EXPECT_EQ(FolderEntries(tmp + "qarvik-held01"),
              (std::vector<std::string>{"qarvik.lock", "tmp03.txt"}));
    EXPECT_EQ(FolderEntries(dir.File("work")),
              (std::vector<std::string>{"keep.txt", "rsp.txt", "rsp.txt.Ef34Gh"}));
    EXPECT_EQ(FolderEntries(dir.File("b")), std::vector<std::string>{"rsp.txt.Ij56Kl"});
}

// A run that records its new response file by a relative path, killed
// before it was put in place: a run started in another folder, beside a file
// of the same name, removes the killed run's file and only that.
TEST(Leftovers, ARecordNamesItsFileFromWhereverTheCleanUpRuns) {
    TempDir dir;
    const std::string folder = dir.File("qarvik-Ab12Cd");
    mkdir(folder.c_str(), 0700);
    for (const char* name : {"a", "b"}) {
        mkdir(dir.File(name).c_str(), 0755);
        WriteFileBytes(dir.File(name) + "/rsp.txt.Zz98Yy", "HALF\r\n");
    }
    char before[4096];
    ASSERT_NE(getcwd(before, sizeof before), nullptr);
    ASSERT_EQ(chdir(dir.Path().c_str()), 0);
    ASSERT_TRUE(TakeRunLock(folder.c_str()));
    OsRecordReplacement("a/rsp.txt.Zz98Yy");
    OsReleaseRunLock();  // as its run is killed
    ASSERT_EQ(chdir(dir.File("b").c_str()), 0);
    PlatformRemoveAbandonedWorkFolders(dir.Path().c_str());
    ASSERT_EQ(chdir(before), 0);
    EXPECT_EQ(FolderEntries(dir.File("a")), std::vector<std::string>{});
    EXPECT_EQ(FolderEntries(dir.File("b")), std::vector<std::string>{"rsp.txt.Zz98Yy"});
    EXPECT_FALSE(FileExists(folder));
}

}  // namespace
