// Many hosts in flight (/p): the run with N probes at once must store and print
// exactly what the one-by-one run does. In-process with commands that end in
// reverse order, and whole runs of the built program on random networks.
#include <filesystem>
#include <functional>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "discovery/computer_names.h"
#include "discovery/other_hosts.h"
#include "state/run_state.h"
#include "test_support.h"

namespace {

// A stand-in tool: writes a report naming its command into the file after
// ">" (emptied first) or ">>" (appended).
void WriteReport(const std::string& command) {
    std::smatch match;
    if (!std::regex_search(command, match, std::regex("^(.*?) (>>?) (\\S+)$"))) return;
    std::string path = match[3];
    std::string report = match[2] == ">>" ? ReadFileBytes(path) : "";
    WriteFileBytes(path, report + "report of " + match[1].str() + "\r\n");
}

std::vector<std::string> SlotFilesIn(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        if (std::regex_match(name, std::regex("tmp\\d\\d_\\d{2,3}\\.txt"))) found.push_back(name);
    }
    return found;
}

class ParallelStages : public StageTest {
protected:
    struct Outcome {
        std::string console, sweep_pings, sweep_arp, name_pings;
    };

    // plant runs once the run's work folder is made.
    Outcome SweepAndName(int probes, const std::function<void()>& plant = [] {}) {
        ResetRunState();
        PrepareWorkFiles();
        plant();
        State.Settings.Probes = probes;
        CopyField(State.Settings.NetAdd, ADDRESS_SIZE, "10.1.2.0");
        CopyField(State.Settings.MaskAdd, ADDRESS_SIZE, "255.255.255.224");
        for (int i = 0; i < 23; ++i) {  // rows 11 and 21 earn marks
            std::snprintf(State.HostTable[i].Ip, ADDRESS_SIZE, "10.1.2.%d", i + 1);
        }
        Outcome outcome;
        outcome.console = CaptureConsole([] {
            GetOtherHosts();
            State.HostCount = 23;
            GetComputerNames();
        });
        outcome.sweep_pings = ReadWorkFile(WF_SWEEP_PINGS);
        outcome.sweep_arp = ReadWorkFile(WF_SWEEP_ARP);
        outcome.name_pings = ReadWorkFile(WF_NAME_PINGS);
        EXPECT_EQ(SlotFilesIn(temp_.Path()), std::vector<std::string>{});
        return outcome;
    }
};

TEST_F(ParallelStages, ReportsAreCollectedInOrderWhateverOrderTheyEnd) {
    on_command_ = WriteReport;
    const Outcome one_by_one = SweepAndName(1);
    ASSERT_NE(one_by_one.sweep_pings, "");
    for (int probes : {2, 7, 64}) {
        SCOPED_TRACE(probes);
        const Outcome parallel = SweepAndName(probes);
        EXPECT_EQ(parallel.console, one_by_one.console);
        EXPECT_EQ(parallel.sweep_pings, one_by_one.sweep_pings);
        EXPECT_EQ(parallel.sweep_arp, one_by_one.sweep_arp);
        EXPECT_EQ(parallel.name_pings, one_by_one.name_pings);
    }
}

TEST_F(ParallelStages, CommandsThatCannotStartEndWithNoReportAndNoSlotFileStays) {
    on_command_ = WriteReport;
    // Pings of even addresses cannot start; slot files of an interrupted run lie about.
    cannot_start_ = [](const std::string& command) {
        return std::regex_search(command, std::regex("^ping .*\\.\\d*[02468] "));
    };
    const Outcome outcome = SweepAndName(4, [] {
        WriteFileBytes(std::string(State.Files.Folder) + "tmp03_00.txt", "stale\r\n");
        WriteFileBytes(std::string(State.Files.Folder) + "tmp04_01.txt", "stale\r\n");
    });
    EXPECT_EQ(outcome.sweep_pings.find("stale"), std::string::npos);
    EXPECT_EQ(outcome.sweep_arp.find("stale"), std::string::npos);
    EXPECT_EQ(SplitLines(outcome.sweep_pings).size(), 15u);  // 10.1.2.1, 3, ... 29
    EXPECT_EQ(SplitLines(outcome.sweep_arp).size(), 30u);    // every ARP query still runs
    EXPECT_EQ(SplitLines(outcome.name_pings).size(), 12u);   // rows of odd addresses
}

// ---------------------------------------------------------------------------
// Whole runs.

// A random segment 10.1.2.1 to last: own adapters, hosts of every state with and
// without names and round trips, DNS names, and a browse list with a name the
// interpreter would act on and one that nbtstat does not find.
std::string RandomNetwork(unsigned seed, int last) {
    std::mt19937 random(seed);
    auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };
    std::string text = "timing 0.002\nmachine OWN\nadapter 10.1.2.10 00-A0-C9-00-00-0A\n";
    if (chance(50)) text += "adapter 0.0.0.0 00-A0-C9-00-00-0B\n";
    const char* states[] = {"up", "arp-only", "down"};
    std::string browse;
    for (int k = 1; k <= last; ++k) {
        if (k == 10 || !chance(40)) continue;
        char mac[18];
        std::snprintf(mac, sizeof mac, "00-0C-29-00-00-%02X", static_cast<unsigned>(k) & 0xFFu);
        std::string name = chance(60) ? "pc" + std::to_string(k) : "-";
        if (chance(10)) {
            text += "dns 10.1.2." + std::to_string(k) + " old" + std::to_string(k) + "\n";
            continue;
        }
        text += "host 10.1.2." + std::to_string(k) + " " + mac + " " + name + " " +
                states[random() % 3] + " " + std::to_string(random() % 3000) + "\n";
        if (name != "-" && chance(50)) browse += "browse " + name + " " + mac + " desk\n";
    }
    browse += "browse a&b 00-0C-29-00-00-AB\nbrowse ghost 00-0C-29-00-00-EE\n";
    return text + browse;
}

// What the two runs must share: the console (without the echo of /p), the
// response file, the set of command lines with their report files set aside,
// and no slot file left behind.
struct RunRecord {
    std::string console, response;
    std::multiset<std::string> commands;
};

RunRecord RecordRun(const std::string& network, const std::vector<std::string>& args) {
    TempDir dir;
    WriteFileBytes(dir.File("net.txt"), network);
    QarvikRun run;
    run.Args = args;
    run.Network = dir.File("net.txt");
    RunQarvik(dir, &run);
    EXPECT_EQ(run.ExitStatus, 0) << run.Errors;
    EXPECT_EQ(SlotFilesIn(dir.File("tmp")), std::vector<std::string>{});
    RunRecord record;
    record.console = std::regex_replace(run.Console, std::regex("\tProbes     = \\d+\n"), "");
    record.response = ReadFileBytes(dir.File("work/rsp.txt"));
    const std::regex report_file("( >>? | )\\S*(tmp\\d\\d)(_\\d{2,3})?\\.txt$");
    for (const std::string& command : run.Commands) {
        record.commands.insert(std::regex_replace(command, report_file, " @$2"));
    }
    return record;
}

class ParallelRuns : public ::testing::TestWithParam<int> {};

TEST_P(ParallelRuns, RandomNetworksGiveTheOneByOneRun) {
    const int probes = GetParam();
    // A /26, or a class C for more than 64 at once, so that every slot is used.
    const int last = probes > 64 ? 254 : 62;
    const std::string network = RandomNetwork(static_cast<unsigned>(probes) * 7919u, last);
    const std::string option = "/p" + std::to_string(probes);
    for (const std::string mode : {"/cC", "/cN"}) {
        SCOPED_TRACE(mode);
        const std::vector<std::string> base = {mode, "/n10.1.2.0",
                                               last > 62 ? "/m255.255.255.0" : "/m255.255.255.192"};
        std::vector<std::string> parallel_args = base;
        parallel_args.push_back(option);
        const RunRecord one_by_one = RecordRun(network, base);
        const RunRecord parallel = RecordRun(network, parallel_args);
        EXPECT_EQ(parallel.console, one_by_one.console);
        EXPECT_EQ(parallel.response, one_by_one.response);
        EXPECT_EQ(parallel.commands, one_by_one.commands);
        EXPECT_GT(one_by_one.commands.size(), 9u);
    }
}

INSTANTIATE_TEST_SUITE_P(Probes, ParallelRuns, ::testing::Values(2, 5, 64, 255));

}  // namespace
