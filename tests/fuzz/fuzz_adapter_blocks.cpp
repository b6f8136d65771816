// The adapter report's MAC lines, block by block, on an arbitrary report with
// the labels and MAC column of every platform. The output must be exactly what
// this model gives: the report read in text mode (CR LF as LF, nothing else)
// and cut into lines; a line starts a block unless it starts with a blank, a
// TAB, a CR or its line end; a line holds a label when the label is in its
// text, which ends at its first NUL byte, as the line filter reads it; for every line
// holding the IP label, the last MAC line of its block so far (its first piece,
// up to a NUL, closed with a line end) or the column's blanks and a line end.
#include <cstring>

#include "fuzz_support.h"
#include "exec/command_runner.h"
#include "discovery/adapter_blocks.h"
#include "state/run_state.h"

namespace {

constexpr size_t kPieceBytes = 511;  // the kept first piece of a MAC line
constexpr int kReport = WF_ADAPTER_REPORT;
constexpr int kMacLines = WF_ADAPTER_MAC_LINES;
constexpr int kIpLines = WF_ADAPTER_IP_LINES;

struct Platform {
    const char* MacLabel;
    const char* IpLabel;
    int MacColumn;
};

// Windows 95, 98, NT 4.0, 2000, XP and 5.2, labels as code page 932 bytes.
const Platform kPlatforms[] = {
    {"\x95\xA8\x97\x9D\xB1\xC4\xDE\xDA\xBD", "IP \xB1\xC4\xDE\xDA\xBD", 24},
    {"\x95\xA8\x97\x9D\x83\x41\x83h\x83\x8C\x83X", "IP \x83\x41\x83h\x83\x8C\x83X", 27},
    {"Physical", "IP Address", 31},
    {"Physical", "IP Address", 37},
    {"Physical", "IP Address", 44},
    {"Physical", "IP Address", 39},
};

std::string UpToNul(const std::string& text) { return text.substr(0, std::strlen(text.c_str())); }

std::string WithCrLf(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

std::string ExpectedOutput(const std::string& report, const Platform& platform) {
    const std::string text = TextModeRead(report);
    std::string output;
    std::string block_mac;
    bool block_has_mac = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string line = text.substr(start, end - start);
        start = end;
        if (std::strchr(" \t\r\n", line[0]) == nullptr || line[0] == '\0') block_has_mac = false;
        const std::string visible = UpToNul(line);
        if (visible.find(platform.MacLabel) != std::string::npos) {
            block_mac = UpToNul(line.substr(0, kPieceBytes));
            if (block_mac.empty() || block_mac.back() != '\n') block_mac += '\n';
            block_has_mac = true;
        }
        if (visible.find(platform.IpLabel) == std::string::npos) continue;
        const std::string empty_mac(static_cast<size_t>(platform.MacColumn), ' ');
        output += block_has_mac ? WithCrLf(block_mac) : empty_mac + "\r\n";
    }
    return output;
}

size_t LineCount(const std::string& bytes) {
    size_t count = 0;
    for (char c : bytes) count += c == '\n' ? 1 : 0;
    return count + (!bytes.empty() && bytes.back() != '\n' ? 1 : 0);
}

}  // namespace

// First byte: the platform; the rest is the report.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    FuzzBeginInput();
    const Platform& platform = kPlatforms[data[0] % (sizeof kPlatforms / sizeof kPlatforms[0])];
    std::string report(reinterpret_cast<const char*>(data + 1), size - 1);
    WriteWorkFile(kReport, report);
    WriteBlockMacLines(State.Files.Path[kReport], platform.MacLabel, platform.IpLabel,
                       platform.MacColumn, State.Files.Path[kMacLines]);
    FUZZ_CHECK(ReadWorkFile(kMacLines) == ExpectedOutput(report, platform));
    // The own-host stage pairs the k-th MAC line with the k-th IP line.
    FilterLines(State.Files.Path[kReport], platform.IpLabel, State.Files.Path[kIpLines]);
    FUZZ_CHECK(LineCount(ReadWorkFile(kMacLines)) == LineCount(ReadWorkFile(kIpLines)));
    FUZZ_CHECK(RecordedCommands().empty());
    return 0;
}
