// The options after the image file, read in order: what each vector of options leaves in the
// settings after the defaults, or which option is refused.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "command_line.h"
#include "loader_settings.h"

namespace {

using namespace portboot;

constexpr int kAccepted = 0;

struct ParseCase {
    const char* name;
    std::vector<const char*> options;  // argv[2] onward
    int rejectedAt;                    // index in argv of the refused option, or kAccepted
    const char* port = "";
    unsigned baud = 0;
    LoadMode mode = ModeUnset;
    unsigned entry = 0;
};

// Test names carry the case; gtest need not dump the record's bytes.
void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << c.name;
}

// The options behind a program name and an image file, as argv holds them.
CommandLine Parse(const std::vector<const char*>& options, bool portPaths = true) {
    std::vector<const char*> argv = {"portboot", "image.bin"};
    argv.insert(argv.end(), options.begin(), options.end());
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data(), portPaths);
}

const ParseCase kCases[] = {
    {"NothingGivesDefaults", {}, kAccepted, "COM1", 57600, ModeUnset, 0},
    {"PortBaudModeEntry", {"3", "57600", "R", "256"}, kAccepted, "COM3", 57600, ModeRun, 256},
    {"NumberAfterModeIsEntryNotPort", {"L", "3"}, kAccepted, "COM1", 57600, ModeLoad, 3},
    {"SecondPortDigit", {"5", "7"}, 3},
    {"BaudBelowRange", {"9599"}, 2},
    {"BaudLowestAccepted", {"9600"}, kAccepted, "COM1", 9600, ModeUnset, 0},
    {"BaudHighestAccepted", {"921600"}, kAccepted, "COM1", 921600, ModeUnset, 0},
    {"BaudAboveRange", {"921601"}, 2},
    {"OddBaudInRangeTaken", {"100000"}, kAccepted, "COM1", 100000, ModeUnset, 0},
    {"SecondBaud", {"9600", "19200"}, 3},
    {"EntryHighestAccepted", {"R", "65534"}, kAccepted, "COM1", 57600, ModeRun, 65534},
    {"Entry65535Refused", {"R", "65535"}, 3},
    {"SecondEntry", {"R", "1", "2"}, 4},
    {"EntryNotANumber", {"L", "x"}, 3},
    {"ModeTwice", {"R", "L"}, 3},
    {"LowerCaseLoad", {"l"}, kAccepted, "COM1", 57600, ModeLoad, 0},
    {"LowerCaseRun", {"r"}, kAccepted, "COM1", 57600, ModeRun, 0},
    {"OnlyFirstLetterCounts", {"load", "7"}, kAccepted, "COM1", 57600, ModeLoad, 7},
    {"PortAfterModeIsEntry", {"R", "9600"}, kAccepted, "COM1", 57600, ModeRun, 9600},
    {"PortZeroNamesCom0", {"0"}, kAccepted, "COM0", 57600, ModeUnset, 0},
    {"NoNumber", {"x"}, 2},
    {"EmptyOption", {""}, 2},
    {"SignOnly", {"+"}, 2},
    {"NegativeWrapsAboveEveryRange", {"-5"}, 2},
    {"NegativeEntryWraps", {"R", "-1"}, 3},
    {"TrailingTextIgnored", {"9600baud"}, kAccepted, "COM1", 9600, ModeUnset, 0},
    {"DigitWithTrailingText", {"3x"}, kAccepted, "COM3", 57600, ModeUnset, 0},
    {"HexReadsAsZero", {"0x10"}, kAccepted, "COM0", 57600, ModeUnset, 0},
    {"TenIsNeitherPortNorBaud", {"10"}, 2},
    {"LeadingBlanks", {" \t 4", "  115200"}, kAccepted, "COM4", 115200, ModeUnset, 0},
    {"PlusSign", {"+5", "+38400"}, kAccepted, "COM5", 38400, ModeUnset, 0},
    {"WrapsModulo2To32", {"4294967299"}, kAccepted, "COM3", 57600, ModeUnset, 0},
    {"WrapsIntoBaudRange", {"4294976896"}, kAccepted, "COM1", 9600, ModeUnset, 0},
    {"LaterOptionsNotLooked", {"5", "5", "garbage"}, 3},
    {"DevicePathFirst",
     {"/dev/ttyUSB0", "9600", "R", "1"},
     kAccepted,
     "/dev/ttyUSB0",
     9600,
     ModeRun,
     1},
    {"DevicePathAfterMode", {"L", "/dev/pts/7", "5"}, kAccepted, "/dev/pts/7", 57600, ModeLoad, 5},
    {"DevicePathAfterDigit", {"2", "/dev/ttyUSB0"}, 3},
    {"DigitAfterDevicePath", {"/dev/ttyUSB0", "2"}, 3},
    {"DevicePathTwice", {"/dev/ttyUSB0", "/dev/ttyUSB1"}, 3},
    {"DevicePathTooLong",
     {"/dev/aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
      "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
      "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
      "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"},
     2},
};

class ParseArgumentTest : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseArgumentTest, SettingsOrRefusedIndex) {
    const ParseCase& c = GetParam();
    const CommandLine parsed = Parse(c.options);
    ASSERT_EQ(parsed.refusedIndex, c.rejectedAt);
    if (c.rejectedAt != kAccepted) {
        return;
    }
    EXPECT_EQ(parsed.settings.port.Label(), c.port);
    EXPECT_EQ(parsed.settings.baudRate, c.baud);
    EXPECT_EQ(parsed.settings.mode, c.mode);
    EXPECT_EQ(parsed.settings.entryPoint, c.entry);
}

// Where ports have no device paths (Windows), a path is text without a leading number.
TEST(ParseCommandLineTest, PathRefusedWherePortsHaveNone) {
    EXPECT_EQ(Parse({"/x"}, false).refusedIndex, 2);
    EXPECT_EQ(Parse({"/?"}, false).refusedIndex, 2);
    EXPECT_EQ(Parse({"3", "R", "/dev/ttyUSB0"}, false).refusedIndex, 4);
    EXPECT_EQ(Parse({"3", "R", "1"}, false).refusedIndex, kAccepted);
}

INSTANTIATE_TEST_SUITE_P(Options, ParseArgumentTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<ParseCase>& p) {
                             return std::string(p.param.name);
                         });

}  // namespace

namespace {

// A number with text after its digits is taken by its digits, and named with the value it was
// read as; a plain number, a mode word, a path and a leading blank are not such options.
TEST(ParseCommandLineTest, NumbersWithTailsAreListedWithTheirValues) {
    struct Case {
        std::vector<const char*> options;
        std::vector<std::pair<int, unsigned>> listed;  // argv index, value
    };
    const Case cases[] = {
        {{"R", "0x100"}, {{3, 0}}},
        {{"9600baud", "3x", "load", "7"}, {{2, 9600}, {3, 3}}},
        {{"9600", "/dev/ttyUSB0", "R", "256"}, {}},
        {{" 9600", "+3"}, {}},
        {{"-0x", "R"}, {{2, 0}}},
        // Up to the refused option only.
        {{"5a", "7b"}, {{2, 5}}},
    };
    for (const Case& c : cases) {
        const CommandLine line = Parse(c.options);
        std::vector<std::pair<int, unsigned>> listed;
        for (const NumberRead& read : line.readWithTail) {
            listed.emplace_back(read.index, read.value);
        }
        EXPECT_EQ(listed, c.listed) << c.options.front();
    }
}

}  // namespace
