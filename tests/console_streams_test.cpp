// One character set per console stream: a file or a pipe gets code page 932
// throughout, what the user typed and the system's paths converted from the
// locale's set; a locale whose set is ASCII, or that cannot be loaded, counts
// as UTF-8. And the program and the stand-in answer --help and --version.
#include <sys/wait.h>

#include <string>
#include <vector>

#include "contract/terminal_charset.h"
#include "test_support.h"

namespace {

TEST(ConsoleStreams, AsciiAndUnloadableLocalesCountAsUtf8) {
    const struct {
        bool loaded;
        const char* codeset;
        std::string counts_as;
    } cases[] = {
        {true, "ANSI_X3.4-1968", "UTF-8"},  // C, POSIX or none, in the GNU C library's words
        {true, "US-ASCII", "UTF-8"},
        {true, "ascii", "UTF-8"},
        {false, "ANSI_X3.4-1968", "UTF-8"},  // set, but not installed
        {true, "UTF-8", "UTF-8"},
        {true, "EUC-JP", "EUC-JP"},
        {true, "ISO-8859-1", "ISO-8859-1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CodesetOfLocale(c.loaded, c.codeset), c.counts_as) << c.codeset << c.loaded;
    }
}

TEST(ConsoleStreams, TypedTextBecomesCodePage932WithQuestionMarksForWhatItLacks) {
    const struct {
        const char* codeset;
        std::string typed;
        std::string converted;
    } cases[] = {
        {"UTF-8", "/o日本語.csv", Cp932("/o日本語.csv")},
        {"UTF-8", "résumé.csv", "r?sum?.csv"},       // no such letter in code page 932
        {"UTF-8", "a\xFF" "b\xE6\x97", "a?b??"},    // bytes that are no UTF-8 character
        {"UTF-8", "ｶﾅ", Cp932("ｶﾅ")},               // half-width kana: one byte each
        {"EUC-JP", "\xC6\xFC\xCB\xDC", Cp932("日本")},
        {"ISO-8859-1", "r\xE9sum\xE9", "r?sum?"},
    };
    for (const auto& c : cases) {
        std::string converted;
        ASSERT_TRUE(TypedInCodePage932(c.codeset, c.typed.data(), c.typed.size(), &converted));
        EXPECT_EQ(converted, c.converted) << c.codeset << " " << c.typed;
    }
    std::string converted;
    EXPECT_FALSE(TypedInCodePage932("NO-SUCH-CHARACTER-SET", "a", 1, &converted));
}

// Runs "qarvik ARGUMENT | iconv -f CP932 -t UTF-8" in dir with the locale and
// the other environment settings; iconv's status goes into *status.
std::string ThroughIconv(const TempDir& dir, const std::string& environment,
                         const std::string& argument, int* status) {
    const std::string command = "cd '" + dir.Path() + "' && env -u LC_ALL -u LC_CTYPE -u LANG " +
                                environment + " '" + QARVIK_PATH + "' '" + argument +
                                "' | iconv -f CP932 -t UTF-8 > out 2> err";
    *status = std::system(command.c_str());
    return ReadFileBytes(dir.File("out")) + ReadFileBytes(dir.File("err"));
}

TEST(ConsoleStreams, APipeReadsAsCodePage932ThroughoutInEveryLocale) {
    const std::string banner = "Network Address Search Utility : Qarvik.exe(R2.1)\n\n";
    const std::string echo = "\tClass      = C\n\tNetwork    = \n\tMask       = \n\tOutputFile = ";
    const struct {
        const char* environment;
        const char* argument;
        std::string shown;
    } cases[] = {
        {"QARVIK_WINVER=fail", "/o日本語résumé.csv",
         echo + "日本語r?sum?.csv\nOSバージョン取得に失敗しました。\n"},
        {"", "/xé日", "不正なパラメータです。(/x?日)\n" + UsageTextUtf8()},
        {"TMPDIR=/nonexistent/一時é/", "/cC",
         echo + "rsp.txt\nCannot create a work folder in the temp directory : /nonexistent/一時?/\n"},
    };
    // UTF-8, then the ASCII ones and one that is set but not installed.
    for (const char* locale :
         {"LC_ALL=C.UTF-8", "LANG=C", "LC_ALL=POSIX", "", "LANG=xx_XX.UTF-8"}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(locale) + " " + c.argument);
            TempDir dir;
            int status = -1;
            const std::string shown =
                ThroughIconv(dir, std::string(locale) + " " + c.environment, c.argument, &status);
            EXPECT_EQ(status, 0);  // iconv read every byte
            EXPECT_EQ(shown, banner + c.shown);
        }
    }
}

// Runs "program argument", its standard output and error and status in the
// three.
int RunAboutItself(const char* program, const char* argument, std::string* out,
                   std::string* err) {
    TempDir dir;
    const std::string command = std::string("'") + program + "' " + argument + " > '" +
                                dir.File("out") + "' 2> '" + dir.File("err") + "'";
    const int status = std::system(command.c_str());
    *out = ReadFileBytes(dir.File("out"));
    *err = ReadFileBytes(dir.File("err"));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The stand-in answers as the program does; anything else but /c stays its
// usage on standard error, with status 1.
TEST(ConsoleStreams, WincmdAnswersHelpAndVersionOnStandardOutput) {
    const std::string usage = "usage: wincmd /c \"<command line>\"\n";
    std::string program_out;
    std::string err;
    ASSERT_EQ(RunAboutItself(QARVIK_PATH, "--version", &program_out, &err), 0);
    const struct {
        const char* argument;
        int status;
        std::string out;
        std::string err;
    } cases[] = {
        {"--help", 0, usage, ""},
        // The same version and licence line.
        {"--version", 0, "wincmd " + program_out.substr(std::string("qarvik ").size()), ""},
        {"-h", 0, usage, ""},
        {"--x", 1, "", usage},
        {"--helpx", 1, "", usage},
        {"", 1, "", usage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argument);
        std::string out;
        EXPECT_EQ(RunAboutItself(WINCMD_PATH, c.argument, &out, &err), c.status);
        EXPECT_EQ(out, c.out);
        EXPECT_EQ(err, c.err);
    }
}

}  // namespace
