// The NetBEUI stage on an arbitrary browse list and arbitrary nbtstat reports:
// the list is written as work file 8 when "net view" redirects into it, and
// each "nbtstat" query gets the next report as work file 9.
#include <cstring>
#include <string>

#include "discovery/netbeui.h"
#include "fuzz_support.h"
#include "discovery/adapter_report.h"
#include "state/run_state.h"

namespace {

constexpr size_t kMaxParts = 16;
constexpr size_t kMacLength = 17;
const char kNbtstat[] = "nbtstat -a ";
constexpr PlatformVersion kVersion10 = {10, 0, 19045, false};

bool IsSafeName(const char* name) {
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(name); *c; ++c) {
        if (*c < 0x20 || *c == 0x7F || std::strchr("&|<>^\"%", *c) != nullptr) return false;
    }
    return true;
}

}  // namespace

// First byte: the nbtstat MAC column (14 of Windows NT 4.0, 18 of 2000 and XP,
// after "= " from version 6 on, or any other); then the browse list and the reports, separated by 0xFF.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    FuzzBeginInput();
    switch (data[0] % 5) {
        case 0: State.Columns.NbtMacColumn = 14; break;
        case 1: State.Columns.NbtMacColumn = 18; break;
        case 2: State.Markers = *FindPlatformRow(kVersion10, 437)->Markers; break;  // after "= "
        default: State.Columns.NbtMacColumn = static_cast<int8_t>(data[0]); break;
    }
    std::vector<std::string> parts = SplitInput(data + 1, size - 1, '\xFF', kMaxParts);
    size_t next_report = 1;
    SetCommandObserver([&](const std::string& command) {
        if (RedirectsInto(command, WF_BROWSE_LIST, false)) {
            WriteWorkFile(WF_BROWSE_LIST, parts[0]);
        } else if (command.compare(0, sizeof kNbtstat - 1, kNbtstat) == 0 &&
                   next_report < parts.size()) {
            WriteWorkFile(WF_NBTSTAT_REPORT, parts[next_report++]);
        }
    });

    GetNetBeuiInfo();

    CheckStateFields();
    CheckCommandsSafe();
    const auto& commands = RecordedCommands();
    FUZZ_CHECK(!commands.empty() && RedirectsInto(commands[0], WF_BROWSE_LIST, false));
    size_t queried = 0;
    for (int row = 0; row < State.HostCount; ++row) {
        const HostRecord& record = State.HostTable[row];
        FUZZ_CHECK(std::strpbrk(record.Name, " \n") == nullptr);
        FUZZ_CHECK(std::strlen(record.Mac) <= kMacLength);
        FUZZ_CHECK(std::strchr(record.Mac, '\n') == nullptr);
        if (!IsSafeName(record.Name)) {
            FUZZ_CHECK(record.Mac[0] == '\0');
            continue;
        }
        if (queried + 1 >= commands.size()) break;  // the stage stopped at an error
        const std::string& command = commands[++queried];
        FUZZ_CHECK(command.compare(0, sizeof kNbtstat - 1, kNbtstat) == 0);
        FUZZ_CHECK(command.compare(sizeof kNbtstat - 1, std::strlen(record.Name), record.Name) == 0);
        FUZZ_CHECK(RedirectsInto(command, WF_NBTSTAT_REPORT, false));
    }
    FUZZ_CHECK(queried + 1 == commands.size());
    for (int row = State.HostCount; row < HOST_TABLE_ROWS && row < 64; ++row) {
        FUZZ_CHECK(State.HostTable[row].Name[0] == '\0');
    }
    return 0;
}
