// The console in a terminal: code page 932 texts in the terminal's character
// set, shown piece by piece; a pipe keeps the code page 932 bytes.
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <utility>

#include "contract/terminal_charset.h"
#include "test_support.h"

namespace {

// Starts the command in dir in a UTF-8 locale on a new terminal that adds no
// CR to line ends, its standard output and error a pipe to cat when
// through_pipe.
pid_t StartOnTerminal(const TempDir& dir, std::vector<const char*> command, bool through_pipe,
                      int* reader) {
    pid_t child = forkpty(reader, nullptr, nullptr, nullptr);
    if (child != 0) return child;
    termios modes{};
    tcgetattr(STDOUT_FILENO, &modes);
    modes.c_oflag &= ~OPOST;
    tcsetattr(STDOUT_FILENO, TCSANOW, &modes);
    setenv("LC_ALL", "C.UTF-8", 1);
    setenv("QARVIK_NETWORK", dir.File("net.txt").c_str(), 1);
    unsetenv("COMSPEC");  // the wincmd beside the program
    command.insert(command.begin(), {"sh", "-c", through_pipe ? "\"$@\" 2>&1 | cat" : "exec \"$@\"",
                                     "sh"});
    command.push_back(nullptr);
    if (chdir(dir.Path().c_str()) == 0) execv("/bin/sh", const_cast<char**>(command.data()));
    _exit(127);
}

// Reads until the text holds until (or to the end when until is empty); false
// when nothing comes for ten seconds. A closed terminal reads as an error.
bool ReadUntil(int reader, const std::string& until, std::string* text) {
    char bytes[512];
    for (ssize_t count = 0; until.empty() || text->find(until) == std::string::npos;) {
        pollfd ready{reader, POLLIN, 0};
        if (poll(&ready, 1, 10000) != 1) return false;
        if ((count = read(reader, bytes, sizeof bytes)) <= 0) return until.empty();
        text->append(bytes, static_cast<size_t>(count));
    }
    return true;
}

// Everything the command shows until it ends, started as StartOnTerminal does.
std::string WholeConsole(const TempDir& dir, std::vector<const char*> command,
                         bool through_pipe) {
    int reader = -1;
    pid_t child = StartOnTerminal(dir, std::move(command), through_pipe, &reader);
    std::string console;
    EXPECT_TRUE(ReadUntil(reader, "", &console));
    close(reader);
    waitpid(child, nullptr, 0);
    return console;
}

TEST(Terminal, ShowsTextsInItsCharacterSetWhileAPipeGetsCodePage932) {
    const std::string banner = "Network Address Search Utility : Qarvik.exe(R2.1)\n\n";
    const std::string wrong = "不正なパラメータです。(/cX)\n" + UsageTextUtf8();
    for (bool through_pipe : {false, true}) {
        for (const auto& [argument, utf8] : {std::pair{"/?", UsageTextUtf8()}, {"/cX", wrong}}) {
            SCOPED_TRACE(std::string(argument) + (through_pipe ? " through a pipe" : ""));
            TempDir dir;
            const std::string console = WholeConsole(dir, {QARVIK_PATH, argument}, through_pipe);
            EXPECT_EQ(console, banner + (through_pipe ? Cp932(utf8) : utf8));
        }
    }
}

// What the user typed is in the terminal's set already: shown as typed, while
// the program's own texts around it are converted.
TEST(Terminal, TypedTextShowsAsItWasTyped) {
    const std::string banner = "Network Address Search Utility : Qarvik.exe(R2.1)\n\n";
    const struct {
        const char* environment;
        const char* argument;
        std::string shown;
    } cases[] = {
        {"QARVIK_WINVER=fail", "/oレポート.txt",
         "\tClass      = C\n\tNetwork    = \n\tMask       = \n"
         "\tOutputFile = レポート.txt\nOSバージョン取得に失敗しました。\n"},
        {"QARVIK_WINVER=fail", "/xレ", "不正なパラメータです。(/xレ)\n" + UsageTextUtf8()},
        {"TMPDIR=/nonexistent/一時é/", "/cC",
         "\tClass      = C\n\tNetwork    = \n\tMask       = \n\tOutputFile = rsp.txt\n"
         "Cannot create a work folder in the temp directory : /nonexistent/一時é/\n"
         "qarvik: /nonexistent/一時é/: No such file or directory\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argument);
        TempDir dir;
        const std::string console =
            WholeConsole(dir, {"env", c.environment, QARVIK_PATH, c.argument}, false);
        EXPECT_EQ(console, banner + c.shown);
    }
}

// The locale of containers, SSH sessions and service units: C, POSIX, none,
// or one that is set but not installed. Their terminals are UTF-8.
TEST(Terminal, AsciiAndUnloadableLocalesShowUtf8) {
    const std::string banner = "Network Address Search Utility : Qarvik.exe(R2.1)\n\n";
    const std::vector<const char*> locales[] = {
        {"LC_ALL=C"}, {"LC_ALL=POSIX"}, {"-u", "LC_ALL"}, {"LC_ALL=xx_XX.UTF-8"},
    };
    for (const auto& locale : locales) {
        SCOPED_TRACE(locale.back());
        TempDir dir;
        std::vector<const char*> command = {"env", "-u", "LC_CTYPE", "-u", "LANG"};
        command.insert(command.end(), locale.begin(), locale.end());
        command.insert(command.end(), {QARVIK_PATH, "/xレ"});
        const std::string console = WholeConsole(dir, command, false);
        EXPECT_EQ(console, banner + "不正なパラメータです。(/xレ)\n" + UsageTextUtf8());
    }
}

TEST(Terminal, ProgressShowsWhileTheToolsRun) {
    TempDir dir;
    WriteFileBytes(dir.File("net.txt"),
                   "timing 0.05\nmachine PC\nadapter 10.1.2.1 00-A0-C9-00-00-0A\n");
    int reader = -1;
    pid_t child = StartOnTerminal(dir, {QARVIK_PATH, "/m255.255.255.248"}, false, &reader);
    std::string console;
    EXPECT_TRUE(ReadUntil(reader, "\tSearch 5 hosts : <", &console));
    EXPECT_EQ(waitpid(child, nullptr, WNOHANG), 0);  // five silent addresses still to ping
    EXPECT_TRUE(ReadUntil(reader, "(Lumbrant)End  : Write Response File\n", &console));
    close(reader);
    waitpid(child, nullptr, 0);
}

TEST(Terminal, WincmdsJapaneseErrorShowsInTheTerminalsCharacterSetWhileAPipeGetsCodePage932) {
    const std::string error = "システム エラー 6118 が発生しました。\r\n\r\n"
                              "このワークグループのサーバー一覧は現在利用できません\r\n";
    for (bool through_pipe : {false, true}) {
        SCOPED_TRACE(through_pipe ? "through a pipe" : "on the terminal");
        TempDir dir;
        WriteFileBytes(dir.File("net.txt"), "machine PC\nadapter 10.1.2.1 00-A0-C9-00-00-0A\n");
        const std::string console = WholeConsole(
            dir, {"env", "QARVIK_WINVER=10", "QARVIK_CODEPAGE=932", WINCMD_PATH, "/c", "net view"},
            through_pipe);
        EXPECT_EQ(console, through_pipe ? Cp932(error) : error);
    }
}

TEST(Terminal, ShiftJisLocalesTakeTheBytesAsTheyAre) {
    for (const char* codeset : {"cp932", "Shift_JIS", "SJIS"}) {
        EXPECT_TRUE(IsShiftJisCodeset(codeset));
    }
    EXPECT_FALSE(IsShiftJisCodeset("UTF-8"));
}

TEST(Terminal, JoinsLeadBytesAcrossPiecesAndShowsWhatCannotBeConvertedAsQuestionMarks) {
    const std::string lead = Cp932("使").substr(0, 1), second = Cp932("使").substr(1);
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{lead, second + "\n"}, "使\n"},
        {{lead, "\n"}, "?\n"},              // a lead byte before a line end
        {{"\x85\x40" "a", "\xFF"}, "?a?"},  // no character there; not a byte of the code page
        {{"a" + lead}, "a?"},               // a lead byte still waiting at the end
    };
    for (const auto& [pieces, shown] : cases) {
        char* bytes = nullptr;
        size_t size = 0;
        FILE* out = open_memstream(&bytes, &size);
        ASSERT_TRUE(OpenTerminalConversion("UTF-8"));
        for (const std::string& piece : pieces) WriteTerminalText(piece.data(), piece.size(), out);
        CloseTerminalConversion(out);
        fclose(out);
        EXPECT_EQ(std::string(bytes, size), shown);
        free(bytes);
    }
    EXPECT_FALSE(OpenTerminalConversion("NO-SUCH-CHARACTER-SET"));
}

}  // namespace
