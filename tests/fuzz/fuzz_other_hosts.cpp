// Both harvest passes of the other-hosts stage on arbitrary sweep reports
// (work files 3 and 4, filtered by the passes into work files 11 and 5), with
// the own rows of the table filled in first.
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "discovery/other_hosts.h"
#include "fuzz_support.h"
#include "state/run_state.h"

// First byte: how many own rows (0 to 10), and whether one of them has an empty
// address; then the ping report and the ARP report, separated by 0xFF.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    FuzzBeginInput();
    int own_rows = data[0] % (MAX_OWN_ADDRESSES + 1);
    for (int row = 0; row < own_rows; ++row) {
        HostRecord& record = State.HostTable[row];
        if ((data[0] & 0x80) != 0 && row == 0) continue;  // an own row without address
        std::snprintf(record.Ip, sizeof record.Ip, "192.168.1.%d", row + 1);
        std::snprintf(record.Mac, sizeof record.Mac, "00-a0-c9-00-00-%02d", row);
    }
    State.OwnHostCount = own_rows;
    HostRecord own_before[MAX_OWN_ADDRESSES];
    std::memcpy(own_before, State.HostTable, sizeof own_before);

    std::vector<std::string> reports = SplitInput(data + 1, size - 1, '\xFF', 2);
    WriteWorkFile(WF_SWEEP_PINGS, reports[0]);
    WriteWorkFile(WF_SWEEP_ARP, reports.size() > 1 ? reports[1] : std::string());

    int next = HarvestResolvedNames(own_rows);
    FUZZ_CHECK(next >= own_rows && next <= HOST_TABLE_ROWS);
    CheckStateFields();
    CheckAddressesFromReport(own_rows, next);
    FUZZ_CHECK(HarvestArpCache(next));
    CheckStateFields();
    FUZZ_CHECK(State.HostCount >= next);
    CheckAddressesFromReport(own_rows, State.HostCount);
    FUZZ_CHECK(RecordedCommands().empty());

    std::set<std::string> addresses;
    for (int row = 0; row < own_rows; ++row) {
        FUZZ_CHECK(std::strcmp(State.HostTable[row].Ip, own_before[row].Ip) == 0);
        FUZZ_CHECK(std::strcmp(State.HostTable[row].Name, own_before[row].Name) == 0);
        addresses.insert(State.HostTable[row].Ip);
    }
    for (int row = own_rows; row < State.HostCount; ++row) {
        const HostRecord& record = State.HostTable[row];
        FUZZ_CHECK(record.Ip[0] != '\0');
        FUZZ_CHECK(addresses.insert(record.Ip).second);  // every address once
        FUZZ_CHECK(std::strpbrk(record.Name, " \n") == nullptr);
        FUZZ_CHECK(row < next || record.Name[0] == '\0');
    }
    return 0;
}
