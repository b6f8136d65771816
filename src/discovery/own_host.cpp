#include "discovery/own_host.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "discovery/ping_report.h"
#include "platform/platform.h"
#include "platform/text_file.h"
#include "state/run_state.h"
#include "text/messages.h"

namespace {

constexpr int kLineSize = 512;
constexpr char kAddressCharacters[] = "0123456789.";
constexpr char kMacCharacters[] = "0123456789ABCDEF-";
// What a disconnected adapter shows; only a last line without line end can match.
constexpr char kEmptyMac[] = "00-00-00-00-00-00";

// Where an adapter line's value starts: at the platform's column, or from
// version 6 on after its label's mark, whatever column the report's language
// puts it at.
const char* AdapterValue(const char* line, int32_t column) {
    return ReportLineValue(line, State.Markers.AdapterValueMark, column);
}

// A value starting with "0" (0.0.0.0 of a disconnected adapter) gives no row;
// anything else gives one, with the digits and dots that follow as its address.
bool TakeOwnAddress(const char* value, HostRecord* row) {
    if (value[0] == '0') return false;
    CopyFieldPart(row->Ip, sizeof row->Ip, value, std::strspn(value, kAddressCharacters));
    return true;
}

// Reads the IP lines of the adapter report into the first rows, marking which
// lines gave a row so the MAC lines can be paired with them. False when the
// file cannot be opened.
bool ReadOwnAddresses(bool gave_row[MAX_OWN_ADDRESSES]) {
    FILE* file = OpenTextForRead(State.Files.Path[WF_ADAPTER_IP_LINES]);
    if (file == nullptr) {
        ReportStageError(MSG_IP_ADDRESS_ERROR);
        return false;
    }
    int32_t rows = 0;
    char line[kLineSize];
    for (int j = 0; ReadTextLineStart(line, sizeof line, file); ++j) {
        const char* value = AdapterValue(line, State.Columns.IpColumn);
        ConsolePrint(MSG_OWN_IP_LINE, value);
        if (j >= MAX_OWN_ADDRESSES) continue;
        if (TakeOwnAddress(value, &State.HostTable[rows])) {
            gave_row[j] = true;
            ++rows;
        }
    }
    std::fclose(file);
    State.OwnHostCount = rows;
    return true;
}

const char* FirstValidOwnAddress() {
    for (int32_t i = 0; i < State.OwnHostCount; ++i) {
        if (State.HostTable[i].Ip[0] != '\0') return State.HostTable[i].Ip;
    }
    return nullptr;
}

// Copies the upper-case hexadecimal digits and dashes that start value, in
// lower case, as far as the field holds them.
void TakeOwnMac(const char* value, HostRecord* row) {
    CopyFieldPart(row->Mac, sizeof row->Mac, value, std::strspn(value, kMacCharacters));
    for (char* c = row->Mac; *c != '\0'; ++c) {
        if (*c >= 'A' && *c <= 'F') *c = static_cast<char>(*c - 'A' + 'a');
    }
}

// Reads the MAC lines of the adapter report; the j-th line belongs to the j-th
// IP line and fills the next row only when that IP line gave one.
void ReadOwnMacs(const bool gave_row[MAX_OWN_ADDRESSES]) {
    FILE* file = OpenTextForRead(State.Files.Path[WF_ADAPTER_MAC_LINES]);
    if (file == nullptr) {
        ReportStageError(MSG_MAC_ADDRESS_ERROR);
        return;
    }
    int32_t row = 0;
    char line[kLineSize];
    for (int j = 0; ReadTextLineStart(line, sizeof line, file); ++j) {
        const char* value = AdapterValue(line, State.Columns.MacColumn);
        ConsolePrint(MSG_OWN_MAC_LINE, value);
        if (j >= MAX_OWN_ADDRESSES || !gave_row[j]) continue;
        if (std::strcmp(value, kEmptyMac) == 0) continue;
        if (value[0] != '\0') TakeOwnMac(value, &State.HostTable[row]);
        ++row;
    }
    std::fclose(file);
}

// Whether row's address lies in the network that network and mask name.
bool LiesIn(const HostRecord& row, uint32_t network, uint32_t mask) {
    uint32_t address = 0;
    return row.Ip[0] != '\0' && ReadDottedQuad(row.Ip, &address) &&
           (address & mask) == (network & mask);
}

// With a network given (/n), the own rows are the addresses that lie in the
// network swept: an address of another adapter is no host of that segment.
// When none lies in it, every own row stays, as without /n.
void KeepOwnRowsInSweptNetwork() {
    uint32_t network = 0;
    uint32_t mask = 0;
    if (!ReadDottedQuad(State.Settings.NetAdd, &network) ||
        !ReadDottedQuad(State.Settings.MaskAdd, &mask)) {
        return;  // the sweep says what is wrong with them
    }
    int32_t kept = 0;
    for (int32_t i = 0; i < State.OwnHostCount; ++i) {
        if (LiesIn(State.HostTable[i], network, mask)) State.HostTable[kept++] = State.HostTable[i];
    }
    if (kept == 0) return;
    for (int32_t i = kept; i < State.OwnHostCount; ++i) State.HostTable[i] = HostRecord{};
    State.OwnHostCount = kept;
}

}  // namespace

void GetOwnHost() {
    bool gave_row[MAX_OWN_ADDRESSES] = {};
    if (!ReadOwnAddresses(gave_row)) return;

    const char* address = FirstValidOwnAddress();
    if (address == nullptr) {
        ConsolePrint("%s", MSG_NO_VALID_ADDRESS);
        RemoveWorkFolder();
        PlatformExit(0);
    }
    const bool network_given = State.Settings.NetAdd[0] != '\0';
    if (!network_given) {
        CopyField(State.Settings.NetAdd, sizeof State.Settings.NetAdd, address);
    }
    ReadOwnMacs(gave_row);
    if (network_given) KeepOwnRowsInSweptNetwork();
}
