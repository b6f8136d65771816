// The stand-in platform seam: simulated versions, the temp directory, work-file
// paths, and Windows text mode.
#include <cstdlib>

#include "platform/platform.h"
#include "platform/text_file.h"
#include "contract/windows_version.h"
#include "state/run_state.h"
#include "test_support.h"

namespace {

struct VersionCase {
    const char* text;
    bool readable;
    PlatformVersion expected;
};

TEST(SimulatedVersion, NamesNumbersAndFailures) {
    const VersionCase cases[] = {
        {nullptr, true, {5, 1, 2600, false}},
        {"", true, {5, 1, 2600, false}},
        {"95", true, {4, 0, 0x040003B6, false}},
        {"98", true, {4, 10, 0x040A08AE, false}},
        {"me", true, {4, 90, 0x045A0BB8, false}},
        {"nt4", true, {4, 0, 1381, false}},
        {"2000", true, {5, 0, 2195, false}},
        {"xp", true, {5, 1, 2600, false}},
        {"2003", true, {5, 2, 3790, false}},
        {"vista", true, {6, 0, 6002, false}},
        {"2008", true, {6, 0, 6002, true}},
        {"2019", true, {10, 0, 17763, true}},
        {"11", true, {10, 0, 22631, false}},
        {"10.0.20348", true, {10, 0, 20348, false}},
        {"3.51.1057", true, {3, 51, 1057, false}},
        {"4.10.0x040A08AE", true, {4, 10, 0x040A08AE, false}},
        {"0x5.0X1.2600", true, {5, 1, 2600, false}},
        {"fail", false, {}},
        {"XP", false, {}},
        {"5.1", false, {}},
        {"5.1.", false, {}},
        {"5.1.2600.1", false, {}},
        {"5..2600", false, {}},
        {"-5.1.2600", false, {}},
        {"5.1.4294967296", false, {}},
        {"5.1.0x", false, {}},
        {" 5.1.2600", false, {}},
    };
    for (const VersionCase& c : cases) {
        SCOPED_TRACE(c.text == nullptr ? "(unset)" : c.text);
        PlatformVersion version{99, 99, 99, true};
        ASSERT_EQ(ParseSimulatedVersion(c.text, &version), c.readable);
        if (!c.readable) continue;
        EXPECT_EQ(version.MajorVersion, c.expected.MajorVersion);
        EXPECT_EQ(version.MinorVersion, c.expected.MinorVersion);
        EXPECT_EQ(version.BuildNumber, c.expected.BuildNumber);
        EXPECT_EQ(version.IsServer, c.expected.IsServer);
    }
}

TEST(SimulatedCodePage, NumberOrTheDefault932) {
    const struct {
        const char* text;
        uint32_t code_page;
    } cases[] = {
        {nullptr, 932}, {"", 932}, {"932", 932}, {"437", 437}, {"65001", 65001},
        {"0x1B5", 932}, {"4294967296", 932}, {"cp437", 932}, {"437x", 932}, {"-437", 932},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text == nullptr ? "(unset)" : c.text);
        EXPECT_EQ(ParseSimulatedCodePage(c.text), c.code_page);
    }
}

TEST(TempDirectory, EndsWithOneSeparatorAndDefaultsToTmp) {
    struct {
        const char* tmpdir;
        const char* expected;
    } cases[] = {
        {"/var/tmp", "/var/tmp/"},
        {"/var/tmp/", "/var/tmp/"},
        {"", "/tmp/"},
        {nullptr, "/tmp/"},
    };
    const char* saved = std::getenv("TMPDIR");
    std::string saved_value = saved != nullptr ? saved : "";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tmpdir == nullptr ? "(unset)" : c.tmpdir);
        if (c.tmpdir == nullptr) {
            unsetenv("TMPDIR");
        } else {
            setenv("TMPDIR", c.tmpdir, 1);
        }
        char directory[TEMP_DIR_SIZE];
        PlatformGetTempDirectory(directory, sizeof directory);
        EXPECT_STREQ(directory, c.expected);
        ResetRunState();
        PrepareWorkFiles();
        const std::string folder = State.Files.Folder;
        EXPECT_EQ(folder.rfind(std::string(c.expected) + "qarvik-", 0), 0u) << folder;
        EXPECT_EQ(std::string(State.Files.Path[7]), folder + "tmp07.txt");
        EXPECT_EQ(std::string(State.Files.Path[11]), folder + "tmp11.txt");
        WriteFileBytes(State.Files.Path[3], "left by a tool\n");
        RemoveWorkFolder();
        EXPECT_FALSE(FileExists(folder));
    }
    if (saved != nullptr) {
        setenv("TMPDIR", saved_value.c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
}

// A directory too long for the work files is refused by the run, which must
// see the whole of it (never a stand-in such as /tmp).
TEST(TempDirectory, TooLongIsGivenWhole) {
    std::string long_dir(TEMP_DIR_SIZE + 10, 'd');
    const char* saved = std::getenv("TMPDIR");
    std::string saved_value = saved != nullptr ? saved : "";
    setenv("TMPDIR", ("/" + long_dir).c_str(), 1);
    char directory[TEMP_DIR_QUERY_SIZE];
    PlatformGetTempDirectory(directory, sizeof directory);
    EXPECT_EQ(directory, "/" + long_dir + "/");
    setenv("TMPDIR", saved_value.c_str(), 1);
}

// Reads every piece of bytes with a reader of the given size.
std::vector<std::string> ReadPieces(const std::string& bytes, int size) {
    TempDir dir;
    WriteFileBytes(dir.File("in"), bytes);
    FILE* file = OpenTextForRead(dir.File("in").c_str());
    std::vector<std::string> pieces;
    std::vector<char> buffer(static_cast<size_t>(size));
    while (ReadTextLine(buffer.data(), size, file)) pieces.emplace_back(buffer.data());
    std::fclose(file);
    return pieces;
}

TEST(TextMode, ReadsLikeWindowsTextMode) {
    using Pieces = std::vector<std::string>;
    EXPECT_EQ(ReadPieces("a\r\nb\r\n", 512), (Pieces{"a\n", "b\n"}));
    EXPECT_EQ(ReadPieces("a\nb", 512), (Pieces{"a\n", "b"}));
    EXPECT_EQ(ReadPieces("a\rb\r\n", 512), (Pieces{"a\rb\n"}));
    EXPECT_EQ(ReadPieces("end\r", 512), (Pieces{"end\r"}));
    EXPECT_EQ(ReadPieces("a\r\nb\x1A" "after\r\n", 512), (Pieces{"a\n", "b\x1A" "after\n"}));
    EXPECT_EQ(ReadPieces("abcdefg\r\n", 4), (Pieces{"abc", "def", "g\n"}));
    // A CR LF pair split by the piece boundary still reads as one LF.
    EXPECT_EQ(ReadPieces("abc\r\nd", 4), (Pieces{"abc", "\n", "d"}));
    EXPECT_EQ(ReadPieces("", 512), Pieces{});
}

TEST(TextMode, WritesCrLf) {
    TempDir dir;
    FILE* file = OpenTextForWrite(dir.File("out").c_str());
    ASSERT_TRUE(WriteText(file, "a,b\nc\n\nd"));
    std::fclose(file);
    EXPECT_EQ(ReadFileBytes(dir.File("out")), "a,b\r\nc\r\n\r\nd");
}

}  // namespace
