// The command line, run through the built program with a recording interpreter
// (no command can escape), and in-process for the settings it leaves behind.
#include <string>
#include <vector>

#include "state/command_line.h"
#include "state/run_state.h"
#include "test_support.h"

namespace {

const char kBanner[] = "Network Address Search Utility : Qarvik.exe(R2.1)\n\n";

std::string UsageText() { return Cp932(UsageTextUtf8()); }

std::string InvalidParameter(const std::string& argument) {
    return Cp932("不正なパラメータです。(") + argument + ")\n";
}

std::string Echo(const char* class_name, const char* network, const char* mask,
                 const char* output) {
    return std::string("\tClass      = ") + class_name + "\n\tNetwork    = " + network +
           "\n\tMask       = " + mask + "\n\tOutputFile = " + output + "\n";
}

// Runs the program with an unreadable platform version, so an accepted command
// line ends right after its echo, before any tool could run.
QarvikRun RunUntilEcho(const std::vector<std::string>& args) {
    TempDir dir;
    QarvikRun run;
    run.Args = args;
    run.WinVer = "fail";
    run.ForwardToWincmd = false;
    RunQarvik(dir, &run);
    return run;
}

TEST(CommandLine, UsageRequestPrintsUsageOnly) {
    for (const char* first : {"/?", "/?x", "/??", "--help", "-h"}) {
        SCOPED_TRACE(first);
        QarvikRun run = RunUntilEcho({first, "/cQ"});
        EXPECT_EQ(run.Console, kBanner + UsageText());
        EXPECT_EQ(run.ExitStatus, 0);
        EXPECT_TRUE(run.Commands.empty());
        EXPECT_EQ(run.Errors, "");
    }
}

// The first line's version is the package's, the second names the licence
// and the holder of the package's copyright file.
TEST(CommandLine, VersionRequestPrintsTheVersionAndTheLicenceOnly) {
    const std::string packaging = FIXTURES_PATH + std::string("/../../packaging/debian/");
    const std::string changelog = ReadFileBytes(packaging + "changelog");
    const std::string copyright = ReadFileBytes(packaging + "copyright");
    const std::string version = changelog.substr(changelog.find('(') + 1,
                                                 changelog.find(')') - changelog.find('(') - 1);
    auto field = [&](const std::string& name) {
        const size_t start = copyright.find("\n" + name + ": ") + name.size() + 3;
        return copyright.substr(start, copyright.find('\n', start) - start);
    };
    QarvikRun run = RunUntilEcho({"--version", "/cQ"});
    const std::vector<std::string> lines = SplitLines(run.Console);
    ASSERT_EQ(lines.size(), 2u) << run.Console;
    EXPECT_EQ(lines[0], "qarvik " + version);
    EXPECT_NE(lines[1].find("Copyright " + field("Copyright")), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("License: " + field("License")), std::string::npos) << lines[1];
    EXPECT_EQ(run.ExitStatus, 0);
    EXPECT_TRUE(run.Commands.empty());
    EXPECT_EQ(run.Errors, "");
}

TEST(CommandLine, WrongArgumentsGiveMessageAndUsage) {
    const std::vector<std::vector<std::string>> cases = {
        {"/cC", "/?"},  // not first: only two characters
        {"/cC", "/?x"},
        {"/cC", "--help"},  // not first
        {"/cC", "--version"},
        {"--x"}, {"--helpx"}, {"--Help"}, {"--version=1"}, {"-h1"}, {"--"}, {"-H"},
        {"/c"},
        {"/cX"},
        {"/c1"},
        {"/x10"},
        {""},
        {"ab"},
        {"/w10001"},
        {"/w-1"},
        {"/w99999999999999999999"},
        {"/w4294967296"},
        {"/p0"},
        {"/p256"},
        {"/pabc"},
        {"/p-1"},
        {"/p8x"}, {"/p 8"}, {"/p+3"},
        {"/n192.168.100.1000"},  // 16 characters: no room for the NUL
        {"/m255.255.255.255."},
        // Not four decimal numbers 0 to 255 joined by dots, nothing before or after.
        {"/n999.1.1.1"}, {"/n1.2.3.256"}, {"/n-1.2.3.4"}, {"/n+1.2.3.4"}, {"/nfoo"}, {"/n1.2.3"},
        {"/n1..3.4"}, {"/n1.2.3.4x"}, {"/n 1.2.3.4"}, {"/n1.2.3.4."}, {"/mfoo"},
        // Not ones then zeros, or wider than class A.
        {"/m0.0.0.0"}, {"/m254.0.0.0"}, {"/m255.0.255.0"}, {"/m255.255.0.255"},
        {"/o" + std::string(1024, 'f')},
        {"/cA", "/cZ", "/cB"},
    };
    for (const auto& args : cases) {
        const std::string& wrong =
            args.size() == 3 ? args[1] : (args.size() == 2 ? args[1] : args[0]);
        SCOPED_TRACE(wrong.substr(0, 40));
        QarvikRun run = RunUntilEcho(args);
        EXPECT_EQ(run.Console, kBanner + InvalidParameter(wrong) + UsageText());
        EXPECT_EQ(run.ExitStatus, 0);
        EXPECT_TRUE(run.Commands.empty());
    }
}

TEST(CommandLine, AcceptedFormsShowInTheEcho) {
    struct Case {
        std::vector<std::string> args;
        std::string echo;
    };
    // The response file is checked before the version is probed, so these
    // name files that can be written: 1023 characters in a folder that exists.
    std::string max_path;
    while (max_path.size() < 1023 - sizeof "rsp.txt" + 1) max_path += "./";
    max_path = max_path.substr(0, 1023 - 7) + "rsp.txt";
    const std::vector<Case> cases = {
        {{}, Echo("C", "", "", "rsp.txt")},
        {{"-cA"}, Echo("A", "", "", "rsp.txt")},
        {{"/cn"}, Echo("NetBEUI", "", "", "rsp.txt")},
        {{"/CbExtra"}, Echo("B", "", "", "rsp.txt")},
        {{"/w0"}, Echo("C", "", "", "rsp.txt")},
        {{"/wabc"}, Echo("C", "", "", "rsp.txt")},
        {{"/w10000"}, Echo("C", "", "", "rsp.txt")},
        {{"/p1"}, Echo("C", "", "", "rsp.txt")},
        {{"/p255"}, Echo("C", "", "", "rsp.txt") + "\tProbes     = 255\n"},
        {{"/P2", "/cN"}, Echo("NetBEUI", "", "", "rsp.txt") + "\tProbes     = 2\n"},
        {{"/n10.0.0.0", "/n192.168.0.0"}, Echo("C", "192.168.0.0", "", "rsp.txt")},
        {{"/cB", "/m255.255.255.0"}, Echo("B", "", "255.255.255.0", "rsp.txt")},
        {{"/N192.168.100.10"}, Echo("C", "192.168.100.10", "", "rsp.txt")},
        {{"/n0.0.0.0", "/m255.0.0.0"}, Echo("C", "0.0.0.0", "255.0.0.0", "rsp.txt")},
        {{"/n01.002.3.4", "/m255.255.255.000"}, Echo("C", "1.2.3.4", "255.255.255.0", "rsp.txt")},
        {{"/m255.255.255.254"}, Echo("C", "", "255.255.255.254", "rsp.txt")},
        {{"/m255.255.255.255", "/p08"}, Echo("C", "", "255.255.255.255", "rsp.txt") +
                                             "\tProbes     = 8\n"},
        {{"/oout list.csv"}, Echo("C", "", "", "out list.csv")},
        {{"/o" + max_path}, Echo("C", "", "", max_path.c_str())},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0].substr(0, 40));
        QarvikRun run = RunUntilEcho(c.args);
        EXPECT_EQ(run.Console, kBanner + c.echo + Cp932("OSバージョン取得に失敗しました。\n"));
        EXPECT_EQ(run.ExitStatus, 1);
        EXPECT_TRUE(run.Commands.empty());
    }
}

// In-process: the settings that the rest of the run works with.
class CommandLineSettings : public StageTest {
protected:
    void Parse(std::vector<std::string> args) {
        args.insert(args.begin(), "qarvik");
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        CaptureConsole([&] { ParseCommandLine(static_cast<int>(args.size()), argv.data()); });
    }
};

TEST_F(CommandLineSettings, DefaultsAndTheMaskOfEachClass) {
    struct Case {
        std::vector<std::string> args;
        ClassMode mode;
        const char* mask;
        int32_t ping_wait;
        int32_t probes = 1;
    };
    const Case cases[] = {
        {{}, CLASS_C, "255.255.255.0", 0},
        {{"/cB"}, CLASS_B, "255.255.0.0", 0},
        {{"/ca"}, CLASS_A, "255.0.0.0", 0},
        {{"/cN"}, CLASS_NETBEUI, "", 0},
        {{"/cB", "/m255.255.255.0"}, CLASS_B, "255.255.255.0", 0},
        {{"/w 500"}, CLASS_C, "255.255.255.0", 500},
        {{"/w+10000"}, CLASS_C, "255.255.255.0", 10000},
        {{"/w-0"}, CLASS_C, "255.255.255.0", 0},
        {{"/w750ms"}, CLASS_C, "255.255.255.0", 750},
        {{"/w500", "/w0"}, CLASS_C, "255.255.255.0", 0},
        {{"/p255"}, CLASS_C, "255.255.255.0", 0, 255},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
        Parse(c.args);
        EXPECT_EQ(State.Settings.Class, c.mode);
        EXPECT_STREQ(State.Settings.MaskAdd, c.mask);
        EXPECT_EQ(State.Settings.PingWait, c.ping_wait);
        EXPECT_EQ(State.Settings.Probes, c.probes);
        EXPECT_STREQ(State.Settings.NetAdd, "");
        EXPECT_STREQ(State.Settings.ResFile, "rsp.txt");
    }
}

TEST_F(CommandLineSettings, WrongArgumentExitsWithStatusZero) {
    try {
        Parse({"/cB", "/w10001"});
        FAIL() << "a wrong argument must end the run";
    } catch (const ExitCalled& exit) {
        EXPECT_EQ(exit.status, 0);
    }
}

}  // namespace
