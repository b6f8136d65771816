// The line filter: an arbitrary input file and marker. The output must be
// exactly what text mode gives: the input up to a Ctrl-Z, CR LF read as LF,
// read in pieces of at most 255 bytes ending after a line end; of every line
// the first piece holding the marker is written back, every LF as CR LF.
#include <cstring>

#include "exec/command_runner.h"
#include "fuzz_support.h"
#include "run/run_state.h"

namespace {

constexpr size_t kPieceBytes = 255;
constexpr int kInput = WF_SWEEP_PINGS;
constexpr int kOutput = WF_SWEEP_PINGING_LINES;

std::string TextModeRead(const std::string& bytes) {
    std::string text;
    for (size_t i = 0; i < bytes.size() && bytes[i] != '\x1A'; ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        text += bytes[i];
    }
    return text;
}

// Pieces as the text-mode reader returns them.
std::vector<std::string> Pieces(const std::string& text) {
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = start;
        while (end < text.size() && end - start < kPieceBytes && text[end] != '\n') ++end;
        if (end < text.size() && text[end] == '\n' && end - start < kPieceBytes) ++end;
        pieces.push_back(text.substr(start, end - start));
        start = end;
    }
    return pieces;
}

// One output line at most per input line: the first piece holding the marker,
// up to a NUL byte, closed with a line end when its line has one.
std::string ExpectedOutput(const std::string& input, const std::string& marker) {
    std::string output;
    bool in_written_line = false;
    for (const std::string& piece : Pieces(TextModeRead(input))) {
        bool ends_line = piece.back() == '\n';
        if (in_written_line) {
            if (ends_line) output += "\r\n";
            in_written_line = !ends_line;
            continue;
        }
        std::string visible = piece.substr(0, std::strlen(piece.c_str()));
        if (visible.find(marker) == std::string::npos) continue;
        for (char c : visible) output += c == '\n' ? std::string("\r\n") : std::string(1, c);
        if (!visible.empty() && visible.back() == '\n') continue;
        if (ends_line) {
            output += "\r\n";
        } else {
            in_written_line = true;
        }
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
