// Nothing stays for ever: a run removes the work folders that killed runs
// left in its temp directory, and the new response files they were writing,
// but never the folder of a run still going, nor anything not made by this
// program.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

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
    // A killed run whose new response file was not in place yet.
    const std::string orphan = dir.File("work/rsp.txt.Ab12Cd");
    WriteFileBytes(orphan, "HALF,10.1.2.1,\r\n");
    PlantFolder(tmp + "qarvik-dead02", (orphan + "\n").c_str());
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
    EXPECT_EQ(FolderEntries(dir.File("work")), (std::vector<std::string>{"keep.txt", "rsp.txt"}));
}

}  // namespace
