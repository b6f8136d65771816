// The command line, run through the built program with a recording interpreter
// (no command can escape), and in-process for the settings it leaves behind.
#include <string>
#include <vector>

#include "run/command_line.h"
#include "run/run_state.h"
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
    for (const char* first : {"/?", "/?x", "/??"}) {
        SCOPED_TRACE(first);
        QarvikRun run = RunUntilEcho({first, "/cQ"});
        EXPECT_EQ(run.Console, kBanner + UsageText());
        EXPECT_EQ(run.ExitStatus, 0);
        EXPECT_TRUE(run.Commands.empty());
        EXPECT_EQ(run.Errors, "");
    }
}

TEST(CommandLine, WrongArgumentsGiveMessageAndUsage) {
    const std::vector<std::vector<std::string>> cases = {
        {"/cC", "/?"},  // not first: only two characters
        {"/cC", "/?x"},
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
        {"/p65"},
        {"/pabc"},
        {"/p-1"},
        {"/n192.168.100.1000"},  // 16 characters: no room for the NUL
        {"/m255.255.255.255."},
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
    const std::string max_path(1023, 'p');
    const std::vector<Case> cases = {
        {{}, Echo("C", "", "", "rsp.txt")},
        {{"-cA"}, Echo("A", "", "", "rsp.txt")},
        {{"/cn"}, Echo("NetBEUI", "", "", "rsp.txt")},
        {{"/CbExtra"}, Echo("B", "", "", "rsp.txt")},
        {{"/w0"}, Echo("C", "", "", "rsp.txt")},
        {{"/wabc"}, Echo("C", "", "", "rsp.txt")},
        {{"/w10000"}, Echo("C", "", "", "rsp.txt")},
        {{"/p1"}, Echo("C", "", "", "rsp.txt")},
        {{"/p64"}, Echo("C", "", "", "rsp.txt") + "\tProbes     = 64\n"},
        {{"/P2", "/cN"}, Echo("NetBEUI", "", "", "rsp.txt") + "\tProbes     = 2\n"},
        {{"/n10.0.0.0", "/n192.168.0.0"}, Echo("C", "192.168.0.0", "", "rsp.txt")},
        {{"/cB", "/m255.255.255.0"}, Echo("B", "", "255.255.255.0", "rsp.txt")},
        {{"/N192.168.100.10"}, Echo("C", "192.168.100.10", "", "rsp.txt")},
        {{"/oout dir/list.csv"}, Echo("C", "", "", "out dir/list.csv")},
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
    // The console; an exit's status goes to exit_status when it is given.
    std::string Parse(std::vector<std::string> args, int* exit_status = nullptr) {
        args.insert(args.begin(), "qarvik");
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        return CaptureConsole([&] {
            try {
                ParseCommandLine(static_cast<int>(args.size()), argv.data());
            } catch (const ExitCalled& exit) {
                if (exit_status == nullptr) throw;
                *exit_status = exit.status;
            }
        });
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
        {{"/p64"}, CLASS_C, "255.255.255.0", 0, 64},
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

// Network and mask values, and the probe count: what is kept, or nullptr for a
// wrong argument, which prints its line and the usage text and nothing else.
TEST_F(CommandLineSettings, AddressesAreDottedDecimalMasksSweepableProbesDigits) {
    const struct {
        const char* argument;
        const char* kept;
    } cases[] = {
        {"/n192.168.1.0", "192.168.1.0"},
        {"/n0.0.0.0", "0.0.0.0"},
        {"/n01.002.3.4", "1.2.3.4"},
        {"/n999.1.1.1", nullptr},
        {"/n1.2.3.256", nullptr},
        {"/n-1.2.3.4", nullptr},
        {"/n+1.2.3.4", nullptr},
        {"/nfoo", nullptr},
        {"/n1.2.3", nullptr},
        {"/n1..3.4", nullptr},
        {"/n1.2.3.4x", nullptr},
        {"/n 1.2.3.4", nullptr},
        {"/n1.2.3.4.", nullptr},
        {"/m255.255.255.255", "255.255.255.255"},
        {"/m255.255.255.254", "255.255.255.254"},
        {"/m255.255.255.000", "255.255.255.0"},
        {"/m255.255.240.0", "255.255.240.0"},
        {"/m255.0.0.0", "255.0.0.0"},
        {"/m254.0.0.0", nullptr},
        {"/m0.0.0.0", nullptr},
        {"/m255.0.255.0", nullptr},
        {"/m255.255.0.255", nullptr},
        {"/mfoo", nullptr},
        {"/p08", "8"},
        {"/p8x", nullptr},
        {"/p 8", nullptr},
        {"/p+3", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argument);
        int status = -1;
        std::string console = Parse({c.argument}, &status);
        if (c.kept == nullptr) {
            EXPECT_EQ(status, 0);
            EXPECT_EQ(console, InvalidParameter(c.argument) + UsageText());
            continue;
        }
        EXPECT_EQ(status, -1);
        const RunSettings& settings = State.Settings;
        const std::string kept = c.argument[1] == 'n'   ? settings.NetAdd
                                 : c.argument[1] == 'm' ? settings.MaskAdd
                                                        : std::to_string(settings.Probes);
        EXPECT_EQ(kept, c.kept);
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
