// The own-host stage on arbitrary MAC lines (work file 1) and IP lines (work
// file 2), with the report columns of every platform.
#include <cstring>

#include "discovery/own_host.h"
#include "fuzz_support.h"
#include "discovery/adapter_report.h"
#include "state/run_state.h"

namespace {

// MAC column and IP column of Windows 95, 98, NT 4.0, 2000, XP and 5.2.
constexpr int32_t kColumns[][2] = {{24, 29}, {27, 32}, {31, 31}, {37, 37}, {44, 44}, {39, 39}};
constexpr size_t kPlatforms = sizeof kColumns / sizeof kColumns[0];
constexpr PlatformVersion kVersion10 = {10, 0, 19045, false};  // values after their mark

bool IsOwnMac(const char* mac) {
    return std::strspn(mac, "0123456789abcdef-") == std::strlen(mac);
}

}  // namespace

// First byte: the platform, whether values follow their label's mark (bit 6) and
// whether /n gave the network address (bit 7); then the
// MAC lines and the IP lines, separated by the byte 0xFF.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    FuzzBeginInput();
    State.Columns.MacColumn = kColumns[data[0] % kPlatforms][0];
    State.Columns.IpColumn = kColumns[data[0] % kPlatforms][1];
    if ((data[0] & 0x40) != 0) State.Markers = *FindPlatformRow(kVersion10, 437)->Markers;
    bool network_given = (data[0] & 0x80) != 0;
    if (network_given) CopyField(State.Settings.NetAdd, ADDRESS_SIZE, "10.1.2.3");
    std::vector<std::string> files = SplitInput(data + 1, size - 1, '\xFF', 2);
    WriteWorkFile(WF_ADAPTER_MAC_LINES, files[0]);
    if (files.size() > 1) WriteWorkFile(WF_ADAPTER_IP_LINES, files[1]);

    bool returned = true;
    try {
        GetOwnHost();
    } catch (const FuzzExit& exit) {
        FUZZ_CHECK(exit.Status == 0);
        returned = false;
    }
    CheckStateFields();
    CheckAddressesFromReport(0, State.OwnHostCount);
    FUZZ_CHECK(State.HostCount == 0);
    FUZZ_CHECK(RecordedCommands().empty());
    for (int32_t row = 0; row < State.OwnHostCount; ++row) {
        FUZZ_CHECK(IsOwnMac(State.HostTable[row].Mac));
        FUZZ_CHECK(State.HostTable[row].Name[0] == '\0');
    }
    for (int32_t row = State.OwnHostCount; row < HOST_TABLE_ROWS; ++row) {
        const HostRecord& record = State.HostTable[row];
        FUZZ_CHECK(record.Ip[0] == '\0' && record.Mac[0] == '\0' && record.Name[0] == '\0');
    }
    if (returned && files.size() > 1) {
        FUZZ_CHECK(State.OwnHostCount > 0);
        FUZZ_CHECK(IsDigitsAndDots(State.Settings.NetAdd));
        if (network_given) FUZZ_CHECK(std::strcmp(State.Settings.NetAdd, "10.1.2.3") == 0);
    }
    return 0;
}
