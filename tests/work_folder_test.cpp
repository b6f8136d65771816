// Whole runs in a shared temp directory: every run works in a private folder of
// its own, removed on every way the run ends; what others put into the temp
// directory is never read or written; a temp directory that command lines
// cannot carry, or where no folder can be made, ends the run with status 2.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

const std::string kSmallOffice = std::string(FIXTURES_PATH) + "/small_office.txt";

// The small office's /29 inventory, as a run of it alone writes it.
const std::string kSmallOfficeRows =
    "OFFICE-PC,10.1.2.10,00-a0-c9-00-00-02\r\n"
    "GATEWAY,10.1.2.1,00-0c-29-00-00-01\r\n"
    "PC-DOWN,10.1.2.5,\r\n"
    "10.1.2.3,10.1.2.3,00-0c-29-00-00-03\r\n"
    "10.1.2.6,10.1.2.6,00-0c-29-00-00-06\r\n";
const std::vector<std::string> kSmallOfficeArgs = {"/n10.1.2.0", "/m255.255.255.248"};

std::string ResponseFile(const TempDir& dir) { return ReadFileBytes(dir.File("work/rsp.txt")); }

TEST(WorkFolder, TwoRunsAtOnceInOneTempDirectoryEachFindTheirOwnNetwork) {
    TempDir shared;
    TempDir first_dir;
    TempDir second_dir;
    WriteFileBytes(second_dir.File("net.txt"),
                   "machine LAB-PC\nadapter 10.7.7.2 00-A0-C9-07-07-02\n"
                   "host 10.7.7.1 00-0C-29-07-07-01 LAB-GW up\n"
                   "host 10.7.7.3 00-0C-29-07-07-03 LAB-SCOPE up\n"
                   "host 10.7.7.30 00-0C-29-07-07-30 - arp-only\n");
    QarvikRun first;
    first.Args = {"/m255.255.255.192"};
    first.Network = kSmallOffice;
    first.TmpDir = shared.Path() + "/";
    QarvikRun second = first;
    second.Network = second_dir.File("net.txt");

    StartQarvik(first_dir, &first);
    StartQarvik(second_dir, &second);
    FinishQarvik(first_dir, &first);
    FinishQarvik(second_dir, &second);

    EXPECT_EQ(first.ExitStatus, 0) << first.Errors;
    EXPECT_EQ(second.ExitStatus, 0) << second.Errors;
    EXPECT_EQ(ResponseFile(first_dir), kSmallOfficeRows);
    EXPECT_EQ(ResponseFile(second_dir),
              "LAB-PC,10.7.7.2,00-a0-c9-07-07-02\r\n"
              "LAB-GW,10.7.7.1,00-0c-29-07-07-01\r\n"
              "LAB-SCOPE,10.7.7.3,00-0c-29-07-07-03\r\n"
              "10.7.7.30,10.7.7.30,00-0c-29-07-07-30\r\n");
    EXPECT_EQ(FolderEntries(shared.Path()), std::vector<std::string>{});
}

// Read-only reports and links that another user put under the work files'
// names, and what an earlier run left behind: none is read, written or removed.
TEST(WorkFolder, FilesPlantedInTheTempDirectoryAreIgnored) {
    TempDir dir;
    const std::string tmp = dir.File("tmp");
    ASSERT_EQ(mkdir(tmp.c_str(), 0755), 0);
    const std::string fake_adapter =
        "        IP Address. . . . . . . . . . . . : 10.66.66.5\r\n"
        "        Physical Address. . . . . . . . . : 00-66-66-66-66-66\r\n";
    const std::string fake_pinging = "Pinging EVIL [10.66.66.66] with 32 bytes of data:\r\n";
    const std::string victim = "the victim's own text\n";
    WriteFileBytes(dir.File("victim.txt"), victim);
    const struct {
        const char* name;
        std::string bytes;
    } planted[] = {{"tmp00.txt", fake_adapter}, {"tmp11.txt", fake_pinging}};
    for (const auto& file : planted) {
        WriteFileBytes(tmp + "/" + file.name, file.bytes);
        ASSERT_EQ(chmod((tmp + "/" + file.name).c_str(), 0444), 0);
    }
    ASSERT_EQ(symlink(dir.File("victim.txt").c_str(), (tmp + "/tmp03.txt").c_str()), 0);

    QarvikRun run;
    run.Args = kSmallOfficeArgs;
    run.Network = kSmallOffice;
    RunQarvik(dir, &run);

    EXPECT_EQ(run.ExitStatus, 0) << run.Errors;
    EXPECT_EQ(ResponseFile(dir), kSmallOfficeRows);
    EXPECT_EQ(ReadFileBytes(dir.File("victim.txt")), victim);
    for (const auto& file : planted) EXPECT_EQ(ReadFileBytes(tmp + "/" + file.name), file.bytes);
    EXPECT_EQ(FolderEntries(tmp),
              (std::vector<std::string>{"tmp00.txt", "tmp03.txt", "tmp11.txt"}));
}

TEST(WorkFolder, InterruptedSweepRemovesTheWorkFolder) {
    const rlimit no_core = {0, 0};  // SIGQUIT ends the run with a core dump: none here
    ASSERT_EQ(setrlimit(RLIMIT_CORE, &no_core), 0);
    // One by one, and with probes in flight whose slot files must go too: with
    // /p255 the sweep's pings fill slots 0 to 253 before the interruption.
    const struct {
        std::vector<std::string> args;
        int signal;
        size_t interrupt_after;
    } cases[] = {{{}, SIGINT, 40},      {{"/p8"}, SIGINT, 40}, {{}, SIGQUIT, 40},
                 {{"/p8"}, SIGPIPE, 40}, {{"/p255"}, SIGINT, 300}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "one by one" : c.args[0]);
        SCOPED_TRACE(c.signal);
        TempDir dir;
        QarvikRun run;
        run.Args = c.args;
        run.Network = kSmallOffice;
        run.InterruptAfterCommands = c.interrupt_after;
        run.Signal = c.signal;
        RunQarvik(dir, &run);

        EXPECT_EQ(run.ExitStatus, 128 + c.signal);
        EXPECT_GE(run.Commands.size(), c.interrupt_after);
        EXPECT_LT(run.Commands.size(), 509u);  // ended in the middle of the sweep
        EXPECT_EQ(FolderEntries(dir.File("tmp")), std::vector<std::string>{});
        EXPECT_FALSE(FileExists(dir.File("work/rsp.txt")));
    }
}

// The run's commands are told the run's folder, and whatever they leave in
// it goes with it, however the run ends.
TEST(WorkFolder, TheRunsToolsAreToldTheirFolderAndWhatTheyLeaveThereGoesWithIt) {
    for (const bool interrupted : {false, true}) {
        SCOPED_TRACE(interrupted ? "interrupted" : "whole run");
        TempDir dir;
        const std::string comspec = dir.File("leaving_cmd");
        WriteFileBytes(comspec,
                       "#!/bin/sh\n"
                       "echo \"$QARVIK_WORK_FOLDER\" >> '" + dir.File("told.txt") + "'\n"
                       ": > \"${QARVIK_WORK_FOLDER}left-by-$$\"\n"
                       "exec '" + RECORD_CMD_PATH + "' \"$@\"\n");
        ASSERT_EQ(chmod(comspec.c_str(), 0755), 0);
        QarvikRun run;
        run.Args = kSmallOfficeArgs;
        run.Network = kSmallOffice;
        run.Comspec = comspec;
        run.InterruptAfterCommands = interrupted ? 5 : 0;
        RunQarvik(dir, &run);

        EXPECT_EQ(run.ExitStatus, interrupted ? 128 + SIGINT : 0) << run.Errors;
        const std::vector<std::string> told = SplitLines(ReadFileBytes(dir.File("told.txt")));
        ASSERT_FALSE(told.empty());
        EXPECT_EQ(told.front().rfind(dir.File("tmp/qarvik-"), 0), 0u) << told.front();
        EXPECT_EQ(told.front().back(), '/');
        for (const std::string& folder : told) EXPECT_EQ(folder, told.front());
        EXPECT_EQ(FolderEntries(dir.File("tmp")), std::vector<std::string>{});
    }
}

// cmd.exe acts on & | < > ^ in a path that is not quoted; a double quote or a
// control character cannot be quoted at all, so such a temp directory is
// refused, as is one where no folder can be made. A refused run leaves an
// existing response file as it was.
TEST(WorkFolder, TempDirectoriesThatCommandLinesCannotCarryOrThatCannotHoldAFolder) {
    struct Case {
        const char* name;
        std::string folder;  // inside the test's folder
        bool make_folder;
        int exit_status;
        std::string message;  // empty: a normal run
    } cases[] = {
        {"ampersand", "Tom&Jerry", true, 0, ""},
        {"double quote", "say\"cheese", true, 2,
         "Temp directory holds a double quote or a control character, unsafe in a command "
         "line : "},
        {"control character", "tab\there", true, 2,
         "Temp directory holds a double quote or a control character, unsafe in a command "
         "line : "},
        {"missing", "missing", false, 2, "Cannot create a work folder in the temp directory : "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string tmp = dir.File(c.folder);
        if (c.make_folder) {
            ASSERT_EQ(mkdir(tmp.c_str(), 0755), 0);
        }
        mkdir(dir.File("work").c_str(), 0755);
        WriteFileBytes(dir.File("work/rsp.txt"), "an earlier inventory\r\n");
        QarvikRun run;
        run.Args = kSmallOfficeArgs;
        run.Network = kSmallOffice;
        run.TmpDir = tmp + "/";
        RunQarvik(dir, &run);

        EXPECT_EQ(run.ExitStatus, c.exit_status) << run.Console;
        if (c.message.empty()) {
            EXPECT_EQ(ResponseFile(dir), kSmallOfficeRows);
            ASSERT_FALSE(run.Commands.empty());
            EXPECT_EQ(run.Commands[0].rfind("ipconfig /all > \"" + tmp + "/qarvik-", 0), 0u)
                << run.Commands[0];
        } else {
            const std::string expected_end = c.message + tmp + "/\n";
            ASSERT_GE(run.Console.size(), expected_end.size());
            EXPECT_EQ(run.Console.substr(run.Console.size() - expected_end.size()), expected_end);
            EXPECT_TRUE(run.Commands.empty());
            EXPECT_EQ(ResponseFile(dir), "an earlier inventory\r\n");
        }
        EXPECT_EQ(FolderEntries(tmp), std::vector<std::string>{});
    }
}

// One length rule, whether or not the directory exists, with its reason.
TEST(WorkFolder, TempDirectoryTooLongForTheWorkFilesIsRefusedWithTheReason) {
    TempDir dir;
    std::string tmp = dir.Path();
    while (tmp.size() + 1 < 993) tmp += "/" + std::string(std::min<size_t>(200, 993 - tmp.size() - 2), 'l');
    ASSERT_EQ(tmp.size() + 1, 993u);
    QarvikRun run;
    run.Args = kSmallOfficeArgs;
    run.Network = kSmallOffice;
    run.TmpDir = tmp + "/";
    RunQarvik(dir, &run);
    EXPECT_EQ(run.ExitStatus, 2);
    const std::string expected_end =
        "Temp directory longer than 992 characters, too long for the paths of the work files in "
        "it : " + tmp + "/\n";
    ASSERT_GE(run.Console.size(), expected_end.size());
    EXPECT_EQ(run.Console.substr(run.Console.size() - expected_end.size()), expected_end);
    EXPECT_TRUE(run.Commands.empty());
}

// A copy of the program without wincmd beside it, and COMSPEC naming a missing
// or a not executable file: the run names both and ends before it makes its
// work folder, so the response file stays as it was.
TEST(WorkFolder, NoCommandInterpreterEndsTheRunBeforeTheWorkFolder) {
    for (bool comspec_exists : {false, true}) {
        SCOPED_TRACE(comspec_exists ? "not executable" : "missing");
        TempDir dir;
        const std::string folder = std::filesystem::canonical(dir.Path()).string();
        QarvikRun run;
        run.Program = folder + "/qarvik";
        WriteFileBytes(run.Program, ReadFileBytes(QARVIK_PATH));
        ASSERT_EQ(chmod(run.Program.c_str(), 0755), 0);
        run.Comspec = folder + "/cmd.exe";
        if (comspec_exists) WriteFileBytes(run.Comspec, "#!/bin/sh\n");
        mkdir(dir.File("work").c_str(), 0755);
        WriteFileBytes(dir.File("work/rsp.txt"), "an earlier inventory\r\n");
        RunQarvik(dir, &run);

        EXPECT_EQ(run.ExitStatus, 2);
        EXPECT_EQ(run.Console.substr(run.Console.find("\tOutputFile")),
                  "\tOutputFile = rsp.txt\nCannot start a command interpreter, tried : " +
                      run.Comspec + ", " + folder + "/wincmd\n");
        EXPECT_EQ(run.Errors, "qarvik: " + run.Comspec + ", " + folder + "/wincmd: " +
                                  (comspec_exists ? "Permission denied" : "No such file or directory") +
                                  ", No such file or directory\n");
        EXPECT_EQ(ResponseFile(dir), "an earlier inventory\r\n");
        EXPECT_EQ(FolderEntries(dir.File("tmp")), std::vector<std::string>{});
    }
}

// A name server or a browse list may hand out a Ctrl-Z byte: it is a byte of
// the name like any other, and every later host keeps its name and its row.
TEST(WorkFolder, CtrlZInNamesIsData) {
    TempDir dir;
    WriteFileBytes(dir.File("net.txt"),
                   "machine MYPC\nadapter 10.3.0.2 00-A0-C9-03-00-02\n"
                   "host 10.3.0.1 00-0C-29-03-00-01 EVIL\x1AZ up\n"
                   "host 10.3.0.3 00-0C-29-03-00-03 AFTER up\n"
                   "host 10.3.0.4 00-0C-29-03-00-04 LATER down\n"
                   "browse EVIL\x1AZ 00-0C-29-03-00-01\n"
                   "browse AFTER 00-0C-29-03-00-03\n");
    QarvikRun run;
    run.Args = {"/m255.255.255.248"};
    run.Network = dir.File("net.txt");
    RunQarvik(dir, &run);
    EXPECT_EQ(run.ExitStatus, 0) << run.Errors;
    EXPECT_EQ(ResponseFile(dir),
              "MYPC,10.3.0.2,00-a0-c9-03-00-02\r\n"
              "EVIL\x1AZ,10.3.0.1,00-0c-29-03-00-01\r\n"
              "AFTER,10.3.0.3,00-0c-29-03-00-03\r\n"
              "LATER,10.3.0.4,\r\n");

    run.Args = {"/cN"};
    RunQarvik(dir, &run);
    EXPECT_EQ(run.ExitStatus, 0) << run.Errors;
    // A name with a control character is never put into a command line.
    EXPECT_EQ(ResponseFile(dir), "EVIL\x1AZ,\r\nAFTER,00-0C-29-03-00-03\r\n");
}

}  // namespace
