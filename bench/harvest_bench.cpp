// The harvest of the other-hosts stage on prepared sweep reports: how its time
// grows with the number of rows it adds. No tool runs: the reports are written
// once, commands and waits are replaced by no-ops, and only the passes run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "discovery/other_hosts.h"
#include "platform/platform.h"
#include "state/run_state.h"

namespace {

int IgnoreCommand(const char*) { return 0; }
void IgnoreWait(int) {}

std::string HostAddress(int k) {
    return "10." + std::to_string((k >> 16) & 255) + "." + std::to_string((k >> 8) & 255) + "." +
           std::to_string(k & 255);
}

// A resolving ping's report, as the sweep appends it for an answering host.
std::string PingReport(int k) {
    std::string address = HostAddress(k);
    return "\nPinging PC-" + std::to_string(k) + ".office.example [" + address +
           "] with 32 bytes of data:\n\n"
           "Reply from " + address + ": bytes=32 time<1ms TTL=128\n\n"
           "Ping statistics for " + address + ":\n"
           "    Packets: Sent = 1, Received = 1, Lost = 0 (0% loss),\n"
           "Approximate round trip times in milli-seconds:\n"
           "    Minimum = 0ms, Maximum = 0ms, Average = 0ms\n";
}

// An ARP query's report with the host's dynamic entry.
std::string ArpReport(int k) {
    char mac[24];
    std::snprintf(mac, sizeof mac, "00-0c-29-%02x-%02x-%02x", (k >> 16) & 255, (k >> 8) & 255,
                  k & 255);
    return "\nInterface: 10.0.0.1 --- 0x2\n"
           "  Internet Address      Physical Address      Type\n"
           "  " + HostAddress(k) + "           " + mac + "     dynamic\n";
}

void WriteFile(const char* path, const std::string& bytes) {
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
        throw std::runtime_error(std::string("cannot write ") + path);
    }
    std::fclose(file);
}

// Fresh run state with its work files in a folder of their own, tools and
// waits replaced: ping reports for hosts [0, pinged), ARP reports for hosts
// [arp_first, arp_first + arp_count).
std::string gFolder;

void PrepareReports(int pinged, int arp_first, int arp_count) {
    std::string& folder = gFolder;
    if (folder.empty()) {
        char pattern[] = "/tmp/qarvik-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
        folder = pattern;
        setenv("TMPDIR", folder.c_str(), 1);
        SetRunCommandHook(IgnoreCommand);
        SetWaitHook(IgnoreWait);
    }
    RemoveWorkFolder();  // the previous case's
    ResetRunState();
    PrepareWorkFiles();
    std::string pings;
    for (int k = 0; k < pinged; ++k) pings += PingReport(k + 1);
    std::string arp;
    for (int k = arp_first; k < arp_first + arp_count; ++k) arp += ArpReport(k + 1);
    WriteFile(State.Files.Path[WF_SWEEP_PINGS], pings);
    WriteFile(State.Files.Path[WF_SWEEP_ARP], arp);
}

// Pass 1 alone: every resolved name gives a new row.
void BM_HarvestResolvedNames(benchmark::State& state) {
    int rows = static_cast<int>(state.range(0));
    PrepareReports(rows, 0, 0);
    for (auto _ : state) {
        int n = HarvestResolvedNames(0);
        if (n != rows) state.SkipWithError("wrong row count");
        benchmark::DoNotOptimize(n);
    }
    state.SetComplexityN(rows);
    state.SetItemsProcessed(state.iterations() * rows);
}

// Pass 2 alone: every ARP entry gives a new row.
void BM_HarvestArpCache(benchmark::State& state) {
    int rows = static_cast<int>(state.range(0));
    PrepareReports(0, 0, rows);
    for (auto _ : state) {
        if (!HarvestArpCache(0) || State.HostCount != rows) state.SkipWithError("wrong row count");
    }
    state.SetComplexityN(rows);
    state.SetItemsProcessed(state.iterations() * rows);
}

// Both passes as the stage runs them: half the hosts resolve, every host is in
// the ARP cache, so half the ARP lines update a row and half add one.
void BM_HarvestBothPasses(benchmark::State& state) {
    int rows = static_cast<int>(state.range(0));
    PrepareReports(rows / 2, 0, rows);
    for (auto _ : state) {
        int n = HarvestResolvedNames(0);
        if (n < 0 || !HarvestArpCache(n) || State.HostCount != rows) {
            state.SkipWithError("wrong row count");
        }
    }
    state.SetComplexityN(rows);
    state.SetItemsProcessed(state.iterations() * rows);
}

BENCHMARK(BM_HarvestResolvedNames)
    ->Arg(1000)->Arg(10000)->Arg(60000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);
BENCHMARK(BM_HarvestArpCache)
    ->Arg(1000)->Arg(10000)->Arg(60000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);
BENCHMARK(BM_HarvestBothPasses)
    ->Arg(1000)->Arg(10000)->Arg(60000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

// Removes the work folder and the folder the benchmarks made for it.
void RemoveReports() {
    if (gFolder.empty()) return;
    RemoveWorkFolder();
    std::remove(gFolder.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    RemoveReports();
    return 0;
}
