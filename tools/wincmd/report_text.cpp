#include "tools.h"

#include "platform/platform.h"

WinFormat FormatOfVersion(uint32_t major, uint32_t minor, uint32_t build) {
    const uint32_t kWin95FamilyBit = 0x04000000;  // the 95 family keeps its version in the build's high word
    if ((build & kWin95FamilyBit) != 0) return minor == 10 ? FORMAT_98 : FORMAT_95;
    if (major == 4) return FORMAT_NT4;
    if (major == 5 && minor == 0) return FORMAT_2000;
    if (major == 5 && minor == 2) return FORMAT_2003;
    if (major == 10 && minor == 0) return FORMAT_10;
    if (major == 6 && minor <= 1) return FORMAT_VISTA;
    if (major >= 6) return FORMAT_8;
    return FORMAT_XP;
}

bool IsWin95Family(WinFormat format) { return format == FORMAT_95 || format == FORMAT_98; }

bool IsModern(WinFormat format) { return format >= FORMAT_VISTA; }

bool PrintsLikeXp(WinFormat format) {
    return format == FORMAT_XP || format == FORMAT_2003 || IsModern(format);
}

ReportLanguage LanguageOfReports(WinFormat format, uint32_t code_page) {
    return IsModern(format) && code_page == CODE_PAGE_JAPANESE ? LANGUAGE_JAPANESE
                                                               : LANGUAGE_ENGLISH;
}

void PutLine(FILE* out, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), out);
    std::fputs("\r\n", out);  // the streams are binary on every platform
}

std::string LeaderLine(const std::string& start, size_t colon_column, bool dot_meets_colon,
                       const std::string& value) {
    std::string line = start;
    if (line.size() >= colon_column) line += ' ';  // a label too long for its column: the value follows it
    const size_t dot_parity = (dot_meets_colon ? colon_column + 1 : colon_column) % 2;
    while (line.size() < colon_column) line += line.size() % 2 == dot_parity ? '.' : ' ';
    line += ": ";
    line += value;
    return line;
}

std::string FieldLine(int indent, const std::string& label, int column, const std::string& value) {
    const size_t colon = column >= 2 ? static_cast<size_t>(column - 2) : 0;
    return LeaderLine(std::string(static_cast<size_t>(indent), ' ') + label, colon, false, value);
}

namespace {

struct ConnectionNames {
    const char* Lan;
    const char* DialUp;
};

const ConnectionNames kEnglishVistaNames = {"Local Area Connection", "Dial-up Connection"};
const ConnectionNames kEnglishNames = {"Ethernet", "Dial-up Connection"};
const ConnectionNames kJapaneseVistaNames = {
    "\203\215\201[\203J\203\213 \203G\203\212\203A\220\332\221\261",  // ローカル エリア接続
    "\203_\203C\203\204\203\213\203A\203b\203v\220\332\221\261",      // ダイヤルアップ接続
};
const ConnectionNames kJapaneseNames = {
    "\203C\201[\203T\203l\203b\203g",                             // イーサネット
    "\203_\203C\203\204\203\213\203A\203b\203v\220\332\221\261",  // ダイヤルアップ接続
};

}  // namespace

std::string ConnectionName(const ToolContext& context, size_t index, AdapterKind kind) {
    const bool vista = context.Format == FORMAT_VISTA;
    const ConnectionNames& names = IsJapanese(context) ? (vista ? kJapaneseVistaNames : kJapaneseNames)
                                                       : (vista ? kEnglishVistaNames : kEnglishNames);
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
