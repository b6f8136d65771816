// The computer-name stage on an arbitrary ping report: the stage pings every
// row (recorded), the report is written as work file 6 when the first ping
// redirects into it, and the stage names the rows from the filtered lines
// (work file 7).
#include <cstdio>
#include <cstring>
#include <string>

#include "discovery/computer_names.h"
#include "fuzz_support.h"
#include "state/run_state.h"

namespace {
constexpr int kMaxRows = 24;
}

// First byte: the row count; second byte: the ping time-out; the rest is the ping report.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    FuzzBeginInput();
    int rows = data[0] % (kMaxRows + 1);
    State.HostCount = rows;
    State.Settings.PingWait = data[1] * 40;  // 0 .. 10200, past the limit too
    for (int row = 0; row < kMaxRows; ++row) {
        std::snprintf(State.HostTable[row].Ip, ADDRESS_SIZE, "10.0.%d.%d", row, 255 - row);
    }
    std::string report(reinterpret_cast<const char*>(data + 2), size - 2);
    SetCommandObserver([&report](const std::string& command) {
        if (RedirectsInto(command, WF_NAME_PINGS, false)) WriteWorkFile(WF_NAME_PINGS, report);
    });

    GetComputerNames();

    CheckStateFields();
    CheckCommandsSafe();
    int pinged = rows;
    FUZZ_CHECK(RecordedCommands().size() == static_cast<size_t>(pinged));
    for (int row = 0; row < pinged; ++row) {
        const std::string& command = RecordedCommands()[row];
        FUZZ_CHECK(command.find(State.HostTable[row].Ip) != std::string::npos);
        FUZZ_CHECK(RedirectsInto(command, WF_NAME_PINGS, row != 0));
    }
    for (int row = 0; row < kMaxRows; ++row) {
        const HostRecord& record = State.HostTable[row];
        FUZZ_CHECK(std::strpbrk(record.Name, " \n") == nullptr);
        FUZZ_CHECK(row < pinged || record.Name[0] == '\0');
        FUZZ_CHECK(IsDigitsAndDots(record.Ip));
    }
    return 0;
}
