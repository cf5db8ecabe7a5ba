// The command handlers over a plain byte buffer as the region and a scripted console.
#include "request_handlers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace conproxy;

// Records what the handlers asked of the console and answers as scripted.
class FakeConsole : public Console {
  public:
    bool infoOk = true;
    ConsoleScreenBufferInfo info{{80, 25}, {3, 4}, 7, {0, 0, 79, 24}, {80, 25}};
    std::vector<InputRecord> input;
    std::string typedText;

    std::vector<std::string> calls;
    std::string written;
    std::vector<std::string> messages;
    uint32_t filledCells = 0;
    ConsoleCoord filledAt{-1, -1};
    ConsoleCoord cursor{-1, -1};

    bool GetScreenInfo(ConsoleScreenBufferInfo& out) override {
        calls.push_back("info");
        if (infoOk) {
            out = info;
        }
        return infoOk;
    }
    bool FillBlanks(uint32_t cells, ConsoleCoord at) override {
        calls.push_back("fill");
        filledCells = cells;
        filledAt = at;
        return true;
    }
    bool SetCursor(ConsoleCoord at) override {
        calls.push_back("cursor");
        cursor = at;
        return true;
    }
    bool PeekInput(InputRecord& record, uint32_t& count) override {
        calls.push_back("peek");
        count = input.empty() ? 0 : 1;
        if (count) {
            record = input.front();
        }
        return true;
    }
    bool ReadInput(InputRecord& record, uint32_t& count) override {
        calls.push_back("read");
        if (input.empty()) {
            count = 0;
            return false;
        }
        record = input.front();
        input.erase(input.begin());
        count = 1;
        return true;
    }
    bool ReadText(char* buffer, uint32_t size, uint32_t& count) override {
        calls.push_back("readtext");
        count = static_cast<uint32_t>(std::min<size_t>(size, typedText.size()));
        std::memcpy(buffer, typedText.data(), count);
        return true;
    }
    bool WriteText(const char* data, uint32_t size) override {
        calls.push_back("write");
        written.append(data, size);
        return true;
    }
    bool ShowMessage(const std::string& line) override {
        calls.push_back("message");
        messages.push_back(line);
        return true;
    }
};

InputRecord KeyRecord(char character) {
    InputRecord record{};
    record.eventType = kKeyEvent;
    record.event.key.keyDown = 1;
    record.event.key.repeatCount = 1;
    record.event.key.virtualKeyCode = 0x41;
    record.event.key.asciiChar = character;
    return record;
}

constexpr uint32_t kUntouched = 0xA5A5A5A5;
constexpr size_t kGuardBytes = 64;
constexpr unsigned char kGuard = 0xCC;

// A region of the given size with guard bytes on both sides, so a stray access shows.
class RegionFixture : public ::testing::Test {
  protected:
    void MakeRegion(size_t size) {
        buffer_.assign(size + 2 * kGuardBytes, kGuard);
        size_ = size;
        std::memset(Region(), 0, size);
    }
    unsigned char* Region() { return buffer_.data() + kGuardBytes; }
    void SetUp() override { MakeRegion(kRegionBytes); }

    void Request(int32_t command, int32_t dataOffset = 0, uint32_t count = 0) {
        ConsoleRequest request{command, static_cast<int32_t>(kUntouched), dataOffset, count,
                               kUntouched};
        std::memcpy(Region(), &request, sizeof request);
    }
    ConsoleRequest Record() {
        ConsoleRequest request;
        std::memcpy(&request, Region(), sizeof request);
        return request;
    }
    bool Handle() { return HandleRequest(Region(), size_, console); }
    bool GuardsIntact() {
        for (size_t i = 0; i < kGuardBytes; ++i) {
            if (buffer_[i] != kGuard || buffer_[kGuardBytes + size_ + i] != kGuard) {
                return false;
            }
        }
        return true;
    }

    FakeConsole console;
    std::vector<unsigned char> buffer_;
    size_t size_ = 0;
};

TEST_F(RegionFixture, ExitAndClearScreenSetStatusZeroOthersLeaveIt) {
    Request(ConExit);
    EXPECT_TRUE(Handle());
    EXPECT_EQ(Record().status, 0);

    for (int32_t command : {ConNop5, ConNop10, ConSetCursor, ConWriteText}) {
        Request(command);
        EXPECT_FALSE(Handle());
        EXPECT_EQ(static_cast<uint32_t>(Record().status), kUntouched) << command;
        EXPECT_EQ(Record().result, kUntouched) << command;
    }
}

TEST_F(RegionFixture, ClearScreenBlanksEveryCellThenHomesCursor) {
    Request(ConClearScreen);
    EXPECT_FALSE(Handle());
    EXPECT_EQ(console.calls, (std::vector<std::string>{"info", "fill", "cursor"}));
    EXPECT_EQ(console.filledCells, 2000u);
    EXPECT_EQ(console.filledAt.x, 0);
    EXPECT_EQ(console.filledAt.y, 0);
    EXPECT_EQ(console.cursor.x, 0);
    EXPECT_EQ(console.cursor.y, 0);
    EXPECT_EQ(Record().status, 0);
}

TEST_F(RegionFixture, ClearScreenWithoutScreenInfoFillsNothing) {
    console.infoOk = false;
    Request(ConClearScreen);
    Handle();
    EXPECT_EQ(console.calls, (std::vector<std::string>{"info", "cursor"}));
    EXPECT_EQ(Record().status, 0);

    // A negative size from the 16-bit fields is no number of cells either.
    console = FakeConsole{};
    console.info.size = ConsoleCoord{-80, 25};
    Request(ConClearScreen);
    Handle();
    EXPECT_EQ(console.calls, (std::vector<std::string>{"info", "cursor"}));
}

TEST_F(RegionFixture, ScreenInfoLandsAtTheOffsetInWindowsLayout) {
    Request(ConGetScreenInfo, 100);
    Handle();
    const unsigned char expected[22] = {80, 0, 25, 0,  3, 0,  4, 0,  7, 0,  0,
                                        0,  0, 0,  79, 0, 24, 0, 80, 0, 25, 0};
    EXPECT_EQ(std::memcmp(Region() + 100, expected, sizeof expected), 0);
    EXPECT_EQ(Region()[122], 0);

    // A failed call leaves the bytes as they were.
    console.infoOk = false;
    std::memset(Region() + 200, 0x5A, 22);
    Request(ConGetScreenInfo, 200);
    Handle();
    for (int i = 0; i < 22; ++i) {
        EXPECT_EQ(Region()[200 + i], 0x5A);
    }
}

TEST_F(RegionFixture, SetCursorTakesTheLowHalvesSigned) {
    Request(ConSetCursor, 5 | 1 << 16, 3);
    Handle();
    EXPECT_EQ(console.cursor.x, 5);
    EXPECT_EQ(console.cursor.y, 3);

    Request(ConSetCursor, 0x7fffffff, 0xffff0002);
    Handle();
    EXPECT_EQ(console.cursor.x, -1);
    EXPECT_EQ(console.cursor.y, 2);
}

TEST_F(RegionFixture, PeekAndReadInputDeliverOneRecord) {
    Request(ConPeekInput, 40);
    Handle();
    EXPECT_EQ(Record().result, 0u);

    console.input = {KeyRecord('q'), KeyRecord('w')};
    Request(ConPeekInput, 40);
    Handle();
    EXPECT_EQ(Record().result, 1u);
    InputRecord got;
    std::memcpy(&got, Region() + 40, sizeof got);
    EXPECT_EQ(got.event.key.asciiChar, 'q');
    EXPECT_EQ(console.input.size(), 2u);

    Request(ConReadInput, 60);
    Handle();
    EXPECT_EQ(Record().result, 1u);
    std::memcpy(&got, Region() + 60, sizeof got);
    EXPECT_EQ(got.eventType, kKeyEvent);
    EXPECT_EQ(got.event.key.asciiChar, 'q');
    EXPECT_EQ(console.input.size(), 1u);

    // A failed read reports no records.
    console.input.clear();
    Request(ConReadInput, 60);
    Handle();
    EXPECT_EQ(Record().result, 0u);
}

TEST_F(RegionFixture, RecordOverTheRequestStillGetsItsCount) {
    console.input = {KeyRecord('z')};
    Request(ConReadInput, 0);
    Handle();
    EXPECT_EQ(Record().result, 1u);
    EXPECT_EQ(Region()[14], 'z');
}

TEST_F(RegionFixture, ReadTextPutsCharactersAtTheOffset) {
    console.typedText = "abc\r\n";
    std::memset(Region() + 300, '#', 16);
    Request(ConReadText, 300, 10);
    Handle();
    EXPECT_EQ(Record().result, 5u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(Region()) + 300, 6), "abc\r\n#");
}

TEST_F(RegionFixture, WriteTextWritesCountCharacters) {
    std::memcpy(Region() + 500, "hello, world", 12);
    Request(ConWriteText, 500, 5);
    Handle();
    EXPECT_EQ(console.written, "hello");

    console.calls.clear();
    Request(ConWriteText, 500, 0);
    Handle();
    EXPECT_EQ(console.written, "hello");
    EXPECT_TRUE(console.calls.empty());
}

struct OutsideCase {
    const char* name;
    size_t regionSize;
    int32_t command;
    int32_t dataOffset;
    uint32_t count;
    bool accepted;
    uint32_t result;  // 0 when refused for the commands that count
};

class OutsideRegion : public RegionFixture, public ::testing::WithParamInterface<OutsideCase> {};

TEST_P(OutsideRegion, NothingOutsideIsTouched) {
    const OutsideCase& c = GetParam();
    MakeRegion(c.regionSize);
    console.input = {KeyRecord('k')};
    console.typedText = std::string(100, 't');
    std::memset(Region() + 20, 'w', c.regionSize - 20);
    Request(c.command, c.dataOffset, c.count);
    Handle();

    EXPECT_TRUE(GuardsIntact());
    const bool usedConsole = !console.calls.empty();
    EXPECT_EQ(usedConsole, c.accepted);
    EXPECT_EQ(Record().result, c.result);
}

constexpr size_t kFull = kRegionBytes;
INSTANTIATE_TEST_SUITE_P(
    Cases, OutsideRegion,
    ::testing::Values(
        OutsideCase{"InfoNegativeOffset", kFull, ConGetScreenInfo, -1, 0, false, kUntouched},
        OutsideCase{"InfoOneByteOver", kFull, ConGetScreenInfo, 8192 - 21, 0, false, kUntouched},
        OutsideCase{"InfoExactlyAtTheEnd", kFull, ConGetScreenInfo, 8192 - 22, 0, true, kUntouched},
        OutsideCase{"PeekNegativeOffset", kFull, ConPeekInput, INT32_MIN, 0, false, 0},
        OutsideCase{"PeekOneByteOver", kFull, ConPeekInput, 8192 - 19, 0, false, 0},
        OutsideCase{"ReadInputExactlyAtTheEnd", kFull, ConReadInput, 8192 - 20, 0, true, 1},
        OutsideCase{"ReadInputPastTheEnd", kFull, ConReadInput, 8192, 0, false, 0},
        OutsideCase{"ReadTextOneByteOver", kFull, ConReadText, 8000, 193, false, 0},
        OutsideCase{"ReadTextExactlyAtTheEnd", kFull, ConReadText, 8092, 100, true, 100},
        OutsideCase{"ReadTextHugeCount", kFull, ConReadText, 100, 0xFFFFFFFF, false, 0},
        OutsideCase{"WriteTextHugeCount", kFull, ConWriteText, 0x7FFFFFFF, 0xFFFFFFFF, false,
                    kUntouched},
        OutsideCase{"WriteTextOneByteOver", kFull, ConWriteText, 8191, 2, false, kUntouched},
        OutsideCase{"WriteTextExactlyAtTheEnd", kFull, ConWriteText, 8191, 1, true, kUntouched},
        OutsideCase{"SmallerRegionRead", 4096, ConReadInput, 4090, 0, false, 0},
        OutsideCase{"SmallerRegionWrite", 4096, ConWriteText, 4000, 97, false, kUntouched},
        OutsideCase{"SmallerRegionInfoFits", 4096, ConGetScreenInfo, 4074, 0, true, kUntouched}),
    [](const ::testing::TestParamInfo<OutsideCase>& param) { return param.param.name; });

TEST_F(RegionFixture, RegionTooSmallForTheRequestIsLeftAlone) {
    MakeRegion(12);
    Region()[0] = ConExit;
    EXPECT_FALSE(Handle());
    EXPECT_TRUE(GuardsIntact());
    EXPECT_TRUE(console.calls.empty());
}

TEST_F(RegionFixture, UnknownCommandShowsItsCodeAndChangesNothing) {
    const struct {
        int32_t command;
        const char* line;
    } cases[] = {{0, "***error*** Unknown command: 0"},
                 {11, "***error*** Unknown command: b"},
                 {-1, "***error*** Unknown command: ffffffff"}};
    for (const auto& c : cases) {
        console = FakeConsole();
        Request(c.command, 100, 5);
        EXPECT_FALSE(Handle());
        // Shown through the console only, never written as a client's text.
        EXPECT_EQ(console.calls, std::vector<std::string>{"message"}) << c.command;
        EXPECT_EQ(console.messages, std::vector<std::string>{c.line}) << c.command;
        EXPECT_EQ(static_cast<uint32_t>(Record().status), kUntouched);
        EXPECT_EQ(Record().result, kUntouched);
    }
}

}  // namespace
