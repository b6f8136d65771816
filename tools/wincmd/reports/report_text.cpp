#include "reports/report_text.h"

#include <cerrno>

#include "reports/lost_work_file.h"

namespace {

// The stream whose write failed, and the reason that write's call gave.
FILE* g_failed_stream = nullptr;
int g_write_error = 0;

void NoteFailedWrite(FILE* out) {
    if (g_failed_stream == out) return;  // its first failure is the reason
    g_failed_stream = out;
    g_write_error = errno != 0 ? errno : EIO;
}

}  // namespace

void PutLine(FILE* out, const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), out) != text.size()) NoteFailedWrite(out);
    // The streams are binary on every platform.
    if (std::fputs("\r\n", out) == EOF) NoteFailedWrite(out);
}

int TakeWriteError(FILE* out) {
    if (g_failed_stream != out) return 0;
    g_failed_stream = nullptr;
    return g_write_error;
}

std::string LeaderLine(const std::string& start, size_t colon_column, ColonLeader leader,
                       const std::string& value) {
    std::string line = start;
    if (line.size() >= colon_column) line += ' ';  // a label too long for its column: the value follows it
    const size_t dot_parity = (leader == DOT_MEETS_COLON ? colon_column + 1 : colon_column) % 2;
    while (line.size() < colon_column) line += line.size() % 2 == dot_parity ? '.' : ' ';
    line += ": ";
    line += value;
    return line;
}

std::string FieldLine(int indent, const std::string& label, int column, const std::string& value) {
    const size_t colon = column >= 2 ? static_cast<size_t>(column - 2) : 0;
    return LeaderLine(std::string(static_cast<size_t>(indent), ' ') + label, colon, BLANK_BEFORE_COLON, value);
}

std::string ConnectionName(const ToolContext& context, size_t index, AdapterKind kind) {
    const ConnectionNames& names = context.Style->Connections[context.Language];
    const std::string name = kind == ADAPTER_PPP ? names.DialUp : names.Lan;
    return index == 0 ? name : name + " " + std::to_string(index + 1);
}

std::string PadRight(const std::string& text, size_t width) {
    std::string padded = text;
    padded += ' ';
    if (padded.size() < width) padded.append(width - padded.size(), ' ');
    return padded;
}

std::string ClassfulMask(uint32_t address) {
    if (address == 0) return "0.0.0.0";
    uint32_t first = address >> 24;
    if (first < 128) return "255.0.0.0";
    if (first < 192) return "255.255.0.0";
    return "255.255.255.0";
}

void PutMachineFailure(const ToolContext& context, const char* tool, const std::string& error) {
    // A work-folder file that could not be written is said by the command's
    // status, once for the run, not by every command that met it.
    if (WorkFolderFileLost()) return;
    std::fprintf(context.Errors, "wincmd: %s: %s\n", tool, error.c_str());
}

bool CanPingHere(const ToolContext& context, const char* tool) {
    std::string error;
    if (context.Host->CanPing(&error)) return true;
    PutMachineFailure(context, tool, error);
    return false;
}
