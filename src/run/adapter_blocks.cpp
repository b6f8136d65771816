#include "run/adapter_blocks.h"

#include <cstdio>
#include <cstring>

#include "exec/command_runner.h"
#include "platform/text_file.h"

namespace {

constexpr int kPieceSize = 512;
// Room for the end of the previous piece, so that a label that a piece
// boundary cuts in two is still found; longer than every label.
constexpr size_t kLabelRoom = 31;

// One line of the report, read in pieces however long it is: its first piece
// is kept, and both labels are looked for in the whole line.
struct ReportLine {
    char Kept[kPieceSize];
    bool StartsBlock;
    bool HoldsMac;
    bool HoldsIp;
};

// Looks for the labels in each piece together with the end of the one before.
// A line's text ends at its first NUL byte, as the line filter that writes the
// IP lines reads it, so both files count the same lines.
struct LabelSearch {
    const char* MacLabel;
    const char* IpLabel;
    char Window[kLabelRoom + kPieceSize];
    size_t Carried;
    bool TextEnded;

    void Start() {
        Carried = 0;
        TextEnded = false;
    }

    void Look(const char* piece, int read, ReportLine* line) {
        if (TextEnded) return;
        size_t length = std::strlen(piece);
        TextEnded = length < static_cast<size_t>(read);
        std::memcpy(Window + Carried, piece, length);
        Window[Carried + length] = '\0';
        if (std::strstr(Window, MacLabel) != nullptr) line->HoldsMac = true;
        if (std::strstr(Window, IpLabel) != nullptr) line->HoldsIp = true;
        size_t total = Carried + length;
        Carried = total < kLabelRoom ? total : kLabelRoom;
        std::memmove(Window, Window + total - Carried, Carried);
    }
};

bool StartsBlock(char first) {
    return first != ' ' && first != '\t' && first != '\r' && first != '\n';
}

// Reads the next whole line, however long; its first piece is kept. False at
// the end.
bool ReadReportLine(FILE* report, LabelSearch* search, ReportLine* line) {
    char piece[kPieceSize];
    std::memset(piece, 0, sizeof piece);
    int read = ReadTextPiece(piece, sizeof piece, report);
    if (read == 0) return false;
    std::memcpy(line->Kept, piece, sizeof piece);
    line->StartsBlock = StartsBlock(piece[0]);
    line->HoldsMac = false;
    line->HoldsIp = false;
    search->Start();
    search->Look(piece, read, line);
    while (piece[read - 1] != '\n') {
        std::memset(piece, 0, sizeof piece);
        read = ReadTextPiece(piece, sizeof piece, report);
        if (read == 0) break;
        search->Look(piece, read, line);
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
    LabelSearch search{mac_label, ip_label, {}, 0, false};
    ReportLine line;
    char block_mac[kPieceSize];
    bool block_has_mac = false;
    while (ReadReportLine(report, &search, &line)) {
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
    std::fclose(output);
    std::fclose(report);
}
