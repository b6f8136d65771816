// The line filter: an arbitrary input file and marker. The output must be
// exactly what text mode gives: CR LF read as LF and every other byte (Ctrl-Z
// included) as it stands; every line whose text (up to a NUL byte) holds the
// marker is written back whole, once, with its line end, every LF as CR LF.
#include <cstring>

#include "exec/command_runner.h"
#include "fuzz_support.h"
#include "state/run_state.h"

namespace {

constexpr int kInput = WF_SWEEP_PINGS;
constexpr int kOutput = WF_SWEEP_PINGING_LINES;

// Lines of the text, each ending after its line end (the last one may have none).
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

std::string ExpectedOutput(const std::string& input, const std::string& marker) {
    std::string output;
    for (const std::string& line : Lines(TextModeRead(input))) {
        std::string visible = line.substr(0, std::strlen(line.c_str()));
        if (visible.find(marker) == std::string::npos) continue;
        for (char c : visible) output += c == '\n' ? std::string("\r\n") : std::string(1, c);
        if (line.back() == '\n' && (visible.empty() || visible.back() != '\n')) output += "\r\n";
    }
    return output;
}

}  // namespace

// The first byte is the marker length, the marker follows, the rest is the file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    FuzzBeginInput();
    size_t marker_length = data[0] % 32;
    if (marker_length > size - 1) marker_length = size - 1;
    std::string marker(reinterpret_cast<const char*>(data + 1), marker_length);
    marker.resize(std::strlen(marker.c_str()));
    std::string input(reinterpret_cast<const char*>(data + 1 + marker_length),
                      size - 1 - marker_length);
    WriteWorkFile(kInput, input);
    FilterLines(State.Files.Path[kInput], marker.c_str(), State.Files.Path[kOutput]);
    FUZZ_CHECK(ReadWorkFile(kOutput) == ExpectedOutput(input, marker));
    FUZZ_CHECK(RecordedCommands().empty());
    return 0;
}
