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

TEST_F(FilterLinesTest, LongLinesAreFilteredInPiecesOf255Bytes) {
    // The marker at byte 520 lies in the third piece (bytes 510 to the line end).
    std::string line(600, 'x');
    line.replace(520, 7, "Pinging");
    EXPECT_EQ(Filter(line + "\n", "Pinging"), line.substr(510) + "\r\n");

    // A marker that straddles byte 255 is found in neither piece.
    std::string straddling(300, 'x');
    straddling.replace(252, 7, "Pinging");
    EXPECT_EQ(Filter(straddling + "\n", "Pinging"), "");

    // A marker just inside the first piece is written as that piece alone,
    // closed with the line end of its line.
    std::string first(300, 'x');
    first.replace(248, 7, "Pinging");
    EXPECT_EQ(Filter(first + "\n", "Pinging"), first.substr(0, 255) + "\r\n");
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

TEST(CommandLineBuilding, QuotesOnlyPathsWithBlanks) {
    struct {
        const char* path;
        const char* expected;
    } cases[] = {
        {"/tmp/tmp03.txt", "del /tmp/tmp03.txt"},
        {"/tmp/my dir/tmp03.txt", "del \"/tmp/my dir/tmp03.txt\""},
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
