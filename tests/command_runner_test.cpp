// The line filter and command-line building.
#include <string>

#include "exec/command_runner.h"
#include "test_support.h"

namespace {

class FilterLinesTest : public StageTest {
protected:
    // Filters input through the marker; returns the output file's bytes.
    std::string Filter(const std::string& input, const char* marker) {
        WriteFileBytes(temp_.File("in.txt"), input);
        std::string console = CaptureConsole(
            [&] { FilterLines(temp_.File("in.txt").c_str(), marker, temp_.File("out.txt").c_str()); });
        EXPECT_EQ(console, "");
        EXPECT_TRUE(waits_.empty());
        return ReadFileBytes(temp_.File("out.txt"));
    }
};

TEST_F(FilterLinesTest, CopiesMarkerLinesInOrderWithCrLf) {
    struct Case {
        const char* name;
        std::string input;
        const char* marker;
        std::string expected;
    };
    const Case cases[] = {
        {"no line has the marker", "Reply from 1.2.3.4\r\nnothing\r\n", "Pinging", ""},
        {"ping report",
         "\r\nPinging 192.168.1.5 with 32 bytes of data:\r\n"
         "Reply from 192.168.1.5: bytes=32 time<10ms TTL=128\r\n",
         "Pinging", "Pinging 192.168.1.5 with 32 bytes of data:\r\n"},
        {"order kept, LF input", "b dynamic\na static\nc dynamic", "dynamic",
         "b dynamic\r\nc dynamic"},
        {"case-sensitive", "PINGING x\r\npinging y\r\n", "Pinging", ""},
        {"empty input", "", "x", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Filter(c.input, c.marker), c.expected);
    }
}

// A line with the marker anywhere is copied whole, however long: wherever the
// marker stands, across the filter's 255-byte pieces included.
TEST_F(FilterLinesTest, LongLinesAreKeptWholeWhereverTheMarkerStands) {
    const std::string other(400, 'o');
    for (size_t at : {520, 252, 506, 0}) {  // the third piece, across bytes 255 and 510
        SCOPED_TRACE(at);
        std::string line(700, 'x');
        line.replace(at, 7, "Pinging");
        const std::string input = other + "\r\n" + line + "\r\n" + other + "\r\nPinging B\r\n";
        EXPECT_EQ(Filter(input, "Pinging"), line + "\r\nPinging B\r\n");
    }
}

TEST_F(FilterLinesTest, MissingInputCostsHundredWaitsAndOneMessage) {
    std::string missing = temp_.File("never-made.txt");
    std::string output = temp_.File("out.txt");
    WriteFileBytes(output, "left as it was\n");
    std::string console =
        CaptureConsole([&] { FilterLines(missing.c_str(), "x", output.c_str()); });
    EXPECT_EQ(console, "File open error : " + missing + "\n");
    EXPECT_EQ(waits_, std::vector<int>(100, 300));
    EXPECT_EQ(ReadFileBytes(output), "left as it was\n");
}

TEST_F(FilterLinesTest, OutputInMissingFolderCostsHundredWaitsAndOneMessage) {
    WriteFileBytes(temp_.File("in.txt"), "x\n");
    std::string output = temp_.File("no-such-folder/out.txt");
    std::string console = CaptureConsole(
        [&] { FilterLines(temp_.File("in.txt").c_str(), "x", output.c_str()); });
    EXPECT_EQ(console, "File open error : " + output + "\n");
    EXPECT_EQ(waits_.size(), 100u);
}

TEST(CommandLineBuilding, QuotesOnlyPathsThatTheInterpreterWouldSplit) {
    struct {
        const char* path;
        const char* expected;
    } cases[] = {
        {"/tmp/tmp03.txt", "del /tmp/tmp03.txt"},
        {"/tmp/my dir/tmp03.txt", "del \"/tmp/my dir/tmp03.txt\""},
        {"C:\\Tom&Jerry\\tmp03.txt", "del \"C:\\Tom&Jerry\\tmp03.txt\""},
        {"/a|b/tmp03.txt", "del \"/a|b/tmp03.txt\""},
        {"/a<b/tmp03.txt", "del \"/a<b/tmp03.txt\""},
        {"/a>b/tmp03.txt", "del \"/a>b/tmp03.txt\""},
        {"/a^b/tmp03.txt", "del \"/a^b/tmp03.txt\""},
        {"/100%/tmp03.txt", "del /100%/tmp03.txt"},
        {"", "del "},
    };
    for (const auto& c : cases) {
        CommandLine command;
        CommandStart(&command, "del ");
        CommandAppendPath(&command, c.path);
        EXPECT_STREQ(command.Text, c.expected);
        EXPECT_EQ(command.Length, std::string(c.expected).size());
    }
}

TEST(CommandLineBuilding, HoldsTheLongestCommandUncut) {
    std::string path = "/" + std::string(WORK_PATH_SIZE - 3, 'd') + " ";
    CommandLine command;
    CommandStart(&command, "ping -a -n 1 -w 10000 255.255.255.255 >> ");
    CommandAppendPath(&command, path.c_str());
    EXPECT_EQ(std::string(command.Text),
              "ping -a -n 1 -w 10000 255.255.255.255 >> \"" + path + "\"");
}

}  // namespace
