#include "discovery/adapter_blocks.h"

#include <cstdio>
#include <cstring>

#include "exec/command_runner.h"
#include "platform/text_file.h"

namespace {

constexpr int kPieceSize = LINE_WINDOW_PIECE_SIZE;

// One line of the report, read in pieces however long it is: its first piece
// is kept, and both labels are looked for in the whole line's text, as the
// line filter that writes the IP lines looks for its marker, so both files
// count the same lines.
struct ReportLine {
    char Kept[kPieceSize];
    bool StartsBlock;
    bool HoldsMac;
    bool HoldsIp;
};

struct Labels {
    const char* Mac;
    const char* Ip;
};

void LookForLabels(LineWindow* window, const char* piece, int read, const Labels& labels,
                   ReportLine* line) {
    if (!AddLinePiece(window, piece, read)) return;
    if (LineWindowHolds(*window, labels.Mac)) line->HoldsMac = true;
    if (LineWindowHolds(*window, labels.Ip)) line->HoldsIp = true;
}

bool StartsBlock(char first) {
    return first != ' ' && first != '\t' && first != '\r' && first != '\n';
}

// Reads the next whole line, however long; its first piece is kept. False at
// the end.
bool ReadReportLine(FILE* report, const Labels& labels, ReportLine* line) {
    char piece[kPieceSize];
    std::memset(piece, 0, sizeof piece);
    int read = ReadTextPiece(piece, sizeof piece, report);
    if (read == 0) return false;
    std::memcpy(line->Kept, piece, sizeof piece);
    line->StartsBlock = StartsBlock(piece[0]);
    line->HoldsMac = false;
    line->HoldsIp = false;
    LineWindow window;
    StartLineWindow(&window);
    LookForLabels(&window, piece, read, labels, line);
    while (piece[read - 1] != '\n') {
        read = ReadTextPiece(piece, sizeof piece, report);
        if (read == 0) break;
        LookForLabels(&window, piece, read, labels, line);
    }
    return true;
}

// The kept MAC line as read, closed with a line end where it had none (cut
// off, or the report's last line).
void WriteMacLine(FILE* output, const char* mac_line) {
    WriteText(output, mac_line);
    if (std::strchr(mac_line, '\n') == nullptr) WriteText(output, "\n");
}

// A MAC line with nothing at the MAC column, for an address whose adapter
// block shows no MAC.
void WriteEmptyMacLine(FILE* output, int mac_column) {
    for (int i = 0; i < mac_column; ++i) WriteText(output, " ");
    WriteText(output, "\n");
}

}  // namespace

void WriteBlockMacLines(const char* report_path, const char* mac_label, const char* ip_label,
                        int mac_column, const char* output_path) {
    FILE* report = OpenForReadWithRetries(report_path);
    if (report == nullptr) return;
    FILE* output = OpenForWriteWithRetries(output_path);
    if (output == nullptr) {
        std::fclose(report);
        return;
    }
    const Labels labels = {mac_label, ip_label};
    ReportLine line;
    char block_mac[kPieceSize];
    bool block_has_mac = false;
    while (ReadReportLine(report, labels, &line)) {
        if (line.StartsBlock) block_has_mac = false;
        if (line.HoldsMac) {
            std::memcpy(block_mac, line.Kept, sizeof block_mac);
            block_has_mac = true;
        }
        if (!line.HoldsIp) continue;
        if (block_has_mac) {
            WriteMacLine(output, block_mac);
        } else {
            WriteEmptyMacLine(output, mac_column);
        }
    }
    CloseWorkFile(output);
    std::fclose(report);
}
