// net view: the computers of the machine's browse list with their remarks
// (the live machine finds its list on the segment). From version 6 on an
// empty list gives error 6118, as the real tool does where no computer keeps
// the list (the usual case from Windows 7 on).
#include "reports/report_text.h"
#include "reports/text_values.h"

namespace {

constexpr size_t kNameColumnWidth = 23;  // "\\" and the name, padded

struct NetTexts {
    const char* ServerName;
    const char* Remark;
    const char* Completed;
    const char* NoBrowseList[3];  // error 6118, on standard error
};

const NetTexts kEnglish = {
    "Server Name",
    "Remark",
    "The command completed successfully.",
    {"System error 6118 has occurred.", "",
     "The list of servers for this workgroup is not currently available"},
};

// No real capture shows these: the texts the Japanese tool is thought to print.
const NetTexts kJapanese = {
    "\203T\201[\203o\201[\226\274",  // サーバー名
    "\222\215\216\337",              // 注釈
    "\203R\203}\203\223\203h\202\315\220\263\217\355\202\311\217I\227\271\202\265\202\334\202\265"
    "\202\275\201B",  // コマンドは正常に終了しました。
    {"\203V\203X\203e\203\200 \203G\203\211\201[ 6118 \202\252\224\255\220\266\202\265\202\334\202"
     "\265\202\275\201B",  // システム エラー 6118 が発生しました。
     "",
     "\202\261\202\314\203\217\201[\203N\203O\203\213\201[\203v\202\314\203T\201[\203o\201[\210\352"
     "\227\227\202\315\214\273\215\335\227\230\227p\202\305\202\253\202\334\202\271\202\361"},
    // このワークグループのサーバー一覧は現在利用できません
};

const NetTexts* const kTexts[LANGUAGE_COUNT] = {&kEnglish, &kJapanese};

constexpr int kErrorStatus = 2;  // what net returns after a system error

void PutUsage(FILE* out) {
    PutLine(out, "The syntax of this command is:");
    PutLine(out, "");
    PutLine(out, "");
    PutLine(out, "NET VIEW");
    PutLine(out, "");
}

// Three lines before the first computer, whatever the language.
void PutList(FILE* out, const NetTexts& text, const std::vector<BrowseEntry>& browse) {
    PutLine(out, PadRight(text.ServerName, kNameColumnWidth) + text.Remark);
    PutLine(out, "");
    PutLine(out, std::string(79, '-'));
    for (const BrowseEntry& entry : browse) {
        PutLine(out, PadRight("\\\\" + entry.Name, kNameColumnWidth) + entry.Remark);
    }
    PutLine(out, text.Completed);
    PutLine(out, "");
}

}  // namespace

int RunNet(const ToolContext& context, const Arguments& args, FILE* out) {
    if (args.size() != 1 || !SameName(args[0], "view")) {
        PutUsage(out);
        return 1;
    }
    std::vector<BrowseEntry> browse;
    std::string error;
    if (!context.Host->ReadBrowseList(&browse, &error)) {
        PutMachineFailure(context, "net", error);
        return kErrorStatus;
    }
    const NetTexts& text = *kTexts[context.Language];
    if (browse.empty() && context.Style->EmptyBrowse == EMPTY_LIST_ERROR_6118) {
        // Error messages go to standard error: a redirected report stays empty.
        for (const char* line : text.NoBrowseList) PutLine(context.Errors, line);
        return kErrorStatus;
    }
    if (browse.empty()) {
        PutLine(out, "There are no entries in the list.");
        PutLine(out, "");
        return 0;
    }
    PutList(out, text, browse);
    return 0;
}
