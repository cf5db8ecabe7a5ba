// conproxy serving every console command on a pseudo-terminal of 80 x 25 whose screen a real
// terminal emulator keeps: the test types as a user would and reads what the screen shows.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "conproxy_client.h"
#include "conproxy_client_testing.h"
#include "e2e_support.h"

namespace {

using conclient::ConproxyClient;
using conclient::InputRecord;
using conclient::WaitResult;

constexpr uint16_t kVkShift = 0x10;
constexpr uint16_t kVkControl = 0x11;
constexpr uint16_t kVkAlt = 0x12;
constexpr uint16_t kVkReturn = 0x0D;
constexpr uint16_t kVkLeft = 0x25;
constexpr uint16_t kVkUp = 0x26;
constexpr uint16_t kVkRight = 0x27;
constexpr uint16_t kVkDown = 0x28;
constexpr uint16_t kVkA = 0x41;
constexpr uint16_t kVkX = 0x58;
constexpr uint16_t kVkF1 = 0x70;
constexpr uint16_t kVkF5 = 0x74;
constexpr int kPromptAnswerMs = 1000;

class ConsoleOnTerminal : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(terminal_.Ok());
        ASSERT_EQ(tcgetattr(terminal_.SlaveFd(), &before_), 0);
        std::string error;
        ASSERT_TRUE(client_.Open(conclient::UniqueNames(), &error)) << error;
        conclient::TestStartOptions o;
        o.serverPath = e2e::ServerPath();
        o.newSession = true;
        o.ttyPath = terminal_.SlavePath();
        ASSERT_TRUE(conclient::ClientTestAccess::StartServer(client_, o, &error)) << error;
        ASSERT_EQ(client_.WaitReady(e2e::kWaitMs), WaitResult::kReplied);
        // An input command first, so the terminal is in the server's input mode before typing.
        InputRecord unused;
        uint32_t result = 0;
        ASSERT_EQ(client_.PeekInput(&unused, &result), WaitResult::kReplied);
    }

    void TearDown() override {
        if (client_.ServerPid() != 0 && !client_.WaitServerExit(0).ended) {
            client_.Exit(nullptr);
            client_.WaitServerExit(e2e::kWaitMs);
        }
    }

    bool CursorAt(int row, int col) {
        int r = -1, c = -1;
        terminal_.Cursor(&r, &c);
        return r == row && c == col;
    }

    // Reads records until `n` have come, each within the time limit.
    std::vector<InputRecord> ReadRecords(size_t n) {
        std::vector<InputRecord> got;
        while (got.size() < n) {
            InputRecord r;
            uint32_t result = 0;
            if (client_.ReadInput(&r, &result, e2e::kWaitMs) != WaitResult::kReplied ||
                result != 1) {
                ADD_FAILURE() << "no record " << got.size() << " of " << n;
                break;
            }
            got.push_back(r);
        }
        return got;
    }

    // A ReadText answered in the background while the test types.
    std::future<std::string> ReadTextAsync(uint32_t count) {
        return std::async(std::launch::async, [this, count] {
            std::string text;
            WaitResult w = client_.ReadText(count, &text, e2e::kWaitMs);
            return w == WaitResult::kReplied
                       ? text
                       : std::string("<") + conclient::WaitResultName(w) + ">";
        });
    }

    e2e::EmulatedTerminal terminal_;
    termios before_{};
    ConproxyClient client_;
};

TEST_F(ConsoleOnTerminal, ClearScreenBlanksAFullScreenAndHomesTheCursor) {
    // Every cell but the last: a character there would scroll the screen, as in a console.
    const std::string line(e2e::kScreenCols, 'X');
    const std::string lastLine(e2e::kScreenCols - 1, 'X');
    auto rowText = [&](int row) { return row + 1 < e2e::kScreenRows ? line : lastLine; };
    for (int row = 0; row < e2e::kScreenRows; ++row) {
        ASSERT_EQ(client_.SetCursor(0, static_cast<int16_t>(row)), WaitResult::kReplied);
        ASSERT_EQ(client_.WriteText(rowText(row)), WaitResult::kReplied);
    }
    ASSERT_TRUE(e2e::WaitUntil([&] {
        for (int row = 0; row < e2e::kScreenRows; ++row) {
            if (terminal_.Row(row) != rowText(row))
                return false;
        }
        return true;
    })) << terminal_.ScreenText();

    int32_t status = -1;
    ASSERT_EQ(client_.ClearScreen(&status), WaitResult::kReplied);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(e2e::WaitUntil([&] {
        return terminal_.ScreenText() == std::string(e2e::kScreenRows - 1, '\n') && CursorAt(0, 0);
    })) << terminal_.ScreenText();
}

TEST_F(ConsoleOnTerminal, ScreenInfoReportsTheTerminalAndItsCursor) {
    ASSERT_EQ(client_.SetCursor(17, 9), WaitResult::kReplied);
    ASSERT_EQ(client_.WriteText("abc"), WaitResult::kReplied);
    conclient::ScreenInfo s;
    ASSERT_EQ(client_.GetScreenInfo(&s), WaitResult::kReplied);
    EXPECT_EQ(s.sizeX, e2e::kScreenCols);
    EXPECT_EQ(s.sizeY, e2e::kScreenRows);
    EXPECT_EQ(s.cursorX, 20);
    EXPECT_EQ(s.cursorY, 9);
    EXPECT_TRUE(CursorAt(s.cursorY, s.cursorX));
    EXPECT_EQ(s.attributes, 7);
    EXPECT_EQ(s.left, 0);
    EXPECT_EQ(s.top, 0);
    EXPECT_EQ(s.right, e2e::kScreenCols - 1);
    EXPECT_EQ(s.bottom, e2e::kScreenRows - 1);
    EXPECT_EQ(s.maxX, e2e::kScreenCols);
    EXPECT_EQ(s.maxY, e2e::kScreenRows);
}

TEST_F(ConsoleOnTerminal, SetCursorTakesTheLowHalvesOnly) {
    struct Case {
        int32_t dataOffset;
        uint32_t count;
        int col, row;
    };
    const Case cases[] = {
        {5 | (1 << 16), 3, 5, 3},
        {7, 2u | (9u << 16), 7, 2},
        {static_cast<int32_t>(0xFFFF0000u | 79), 0xABCD0000u | 24, 79, 24},
        {0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.col * 100 + c.row);
        ASSERT_EQ(client_.Raw(conclient::ConSetCursor, c.dataOffset, c.count, nullptr),
                  WaitResult::kReplied);
        EXPECT_TRUE(e2e::WaitUntil([&] { return CursorAt(c.row, c.col); }));
    }
}

TEST_F(ConsoleOnTerminal, PeekWithNothingWaitingAnswersAtOnce) {
    InputRecord r;
    uint32_t result = 99;
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(client_.PeekInput(&r, &result), WaitResult::kReplied);
    EXPECT_EQ(result, 0u);
    // Peeking must not wait for a key (a cursor-position query may take a round trip).
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kPromptAnswerMs));
}

struct KeyCase {
    const char* name;
    std::string typed;
    struct Expected {
        bool down;
        uint16_t vk;
        uint8_t ch;
        bool enhanced;
    };
    std::vector<Expected> records;
};

TEST_F(ConsoleOnTerminal, ReadInputGivesKeyDownAndUpPerKey) {
    const std::vector<KeyCase> cases = {
        {"letter a", "a", {{true, kVkA, 'a', false}, {false, kVkA, 'a', false}}},
        {"capital A with Shift around it",
         "A",
         {{true, kVkShift, 0, false},
          {true, kVkA, 'A', false},
          {false, kVkA, 'A', false},
          {false, kVkShift, 0, false}}},
        {"Ctrl+A",
         "\x01",
         {{true, kVkControl, 0, false},
          {true, kVkA, 0x01, false},
          {false, kVkA, 0x01, false},
          {false, kVkControl, 0, false}}},
        {"Enter", "\r", {{true, kVkReturn, '\r', false}, {false, kVkReturn, '\r', false}}},
        {"Up", "\x1b[A", {{true, kVkUp, 0, true}, {false, kVkUp, 0, true}}},
        {"Down", "\x1b[B", {{true, kVkDown, 0, true}, {false, kVkDown, 0, true}}},
        {"Right", "\x1b[C", {{true, kVkRight, 0, true}, {false, kVkRight, 0, true}}},
        {"Left", "\x1b[D", {{true, kVkLeft, 0, true}, {false, kVkLeft, 0, true}}},
        {"F1", "\x1bOP", {{true, kVkF1, 0, false}, {false, kVkF1, 0, false}}},
        {"F5", "\x1b[15~", {{true, kVkF5, 0, false}, {false, kVkF5, 0, false}}},
        // Sent in one write while the server is idle: one key, however late it is read.
        {"Alt+X",
         "\x1bx",
         {{true, kVkAlt, 0, false},
          {true, kVkX, 'x', false},
          {false, kVkX, 'x', false},
          {false, kVkAlt, 0, false}}},
    };
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.name);
        terminal_.Type(c.typed);
        std::vector<InputRecord> got = ReadRecords(c.records.size());
        for (size_t i = 0; i < got.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(got[i].eventType, conclient::kKeyEvent);
            EXPECT_EQ(got[i].keyDown, c.records[i].down);
            EXPECT_EQ(got[i].virtualKeyCode, c.records[i].vk);
            EXPECT_EQ(got[i].asciiChar, c.records[i].ch);
            EXPECT_EQ((got[i].controlKeyState & conclient::kEnhancedKey) != 0,
                      c.records[i].enhanced);
            EXPECT_GE(got[i].repeatCount, 1);
        }
        // Nothing more than the expected records came from this key.
        InputRecord extra;
        uint32_t result = 99;
        ASSERT_EQ(client_.PeekInput(&extra, &result), WaitResult::kReplied);
        EXPECT_EQ(result, 0u);
    }
}

TEST_F(ConsoleOnTerminal, PeekShowsTheNextRecordWithoutTakingIt) {
    terminal_.Type("q");
    InputRecord peeked;
    uint32_t result = 0;
    ASSERT_TRUE(e2e::WaitUntil([&] {
        return client_.PeekInput(&peeked, &result) == WaitResult::kReplied && result == 1;
    }));
    EXPECT_TRUE(peeked.keyDown);
    EXPECT_EQ(peeked.asciiChar, 'q');
    std::vector<InputRecord> read = ReadRecords(2);
    ASSERT_EQ(read.size(), 2u);
    EXPECT_TRUE(read[0].keyDown);
    EXPECT_EQ(read[0].asciiChar, 'q');
    EXPECT_EQ(read[0].virtualKeyCode, peeked.virtualKeyCode);
    EXPECT_FALSE(read[1].keyDown);
}

TEST_F(ConsoleOnTerminal, ReadInputWaitsForAKey) {
    auto pending = std::async(std::launch::async, [this] {
        InputRecord r;
        uint32_t result = 0;
        WaitResult w = client_.ReadInput(&r, &result, e2e::kWaitMs);
        return w == WaitResult::kReplied && result == 1 ? static_cast<int>(r.asciiChar) : -1;
    });
    EXPECT_EQ(pending.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout)
        << "answered before any key was typed";
    terminal_.Type("w");
    EXPECT_EQ(pending.get(), 'w');
}

// A lone Esc is told from Alt+key by the pause after it, counted from when the Esc came: a key
// typed long after it is a key of its own, whether the client was waiting in a read all along,
// only peeked (which already took the Esc from the terminal) in between, or asked nothing until
// both keys had come.
TEST_F(ConsoleOnTerminal, EscThenAKeyLongAfterIsTwoKeysNotAlt) {
    constexpr uint16_t kVkEscape = 0x1B;
    enum class Client { kPeeksBetween, kReadsAllAlong, kAsksAfterBoth };
    const std::pair<Client, const char*> clients[] = {
        {Client::kPeeksBetween, "peek between"},
        {Client::kReadsAllAlong, "read waiting"},
        {Client::kAsksAfterBoth, "server idle until both came"},
    };
    for (const auto& [client, name] : clients) {
        for (int trial = 0; trial < 3; ++trial) {
            SCOPED_TRACE(std::string(name) + ", trial " + std::to_string(trial));
            std::future<std::vector<InputRecord>> read;
            if (client == Client::kReadsAllAlong) {
                read = std::async(std::launch::async, [this] { return ReadRecords(4); });
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            terminal_.Type("\x1b");
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (client == Client::kPeeksBetween) {
                InputRecord r;
                uint32_t result = 9;
                ASSERT_EQ(client_.PeekInput(&r, &result), WaitResult::kReplied);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            terminal_.Type("x");
            if (client == Client::kAsksAfterBoth) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            const std::vector<InputRecord> got =
                client == Client::kReadsAllAlong ? read.get() : ReadRecords(4);
            ASSERT_EQ(got.size(), 4u);
            const uint16_t keys[] = {kVkEscape, kVkEscape, kVkX, kVkX};
            for (size_t i = 0; i < got.size(); ++i) {
                SCOPED_TRACE(i);
                EXPECT_EQ(got[i].keyDown, i % 2 == 0);
                EXPECT_EQ(got[i].virtualKeyCode, keys[i]);
                EXPECT_EQ(got[i].controlKeyState & conproxy_protocol::kLeftAltPressed, 0u);
            }
            InputRecord extra;
            uint32_t result = 9;
            ASSERT_EQ(client_.PeekInput(&extra, &result), WaitResult::kReplied);
            EXPECT_EQ(result, 0u);
        }
    }
}

// As a Windows console with window input off (its default): no size record, the new size in
// the screen information.
TEST_F(ConsoleOnTerminal, WindowResizeQueuesNoRecordButScreenInfoHasTheNewSize) {
    terminal_.Resize(30, 100);
    conclient::ScreenInfo s;
    ASSERT_TRUE(e2e::WaitUntil(
        [&] { return client_.GetScreenInfo(&s) == WaitResult::kReplied && s.sizeX == 100; }));
    EXPECT_EQ(s.sizeY, 30);
    InputRecord r;
    uint32_t result = 9;
    ASSERT_EQ(client_.PeekInput(&r, &result), WaitResult::kReplied);
    EXPECT_EQ(result, 0u);
}

TEST_F(ConsoleOnTerminal, ReadTextIsAnEditedEchoedLine) {
    struct Case {
        const char* name;
        std::string typed;
        uint32_t count;
        std::vector<std::string> reads;  // what successive reads deliver
        std::string echoed;
    };
    const Case cases[] = {
        {"three characters and Enter", "abc\r", 10, {"abc\r\n"}, "abc"},
        {"Backspace erases",
         "abx\x7f"
         "c\r",
         10,
         {"abc\r\n"},
         "abc"},
        {"line longer than count spreads over reads",
         "hello world\r",
         5,
         {"hello", " worl", "d\r\n"},
         "hello world"},
    };
    int row = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(client_.SetCursor(0, static_cast<int16_t>(row)), WaitResult::kReplied);
        std::future<std::string> first = ReadTextAsync(c.count);
        terminal_.Type(c.typed);
        EXPECT_EQ(first.get(), c.reads[0]);
        for (size_t i = 1; i < c.reads.size(); ++i) {
            std::string text;
            // The rest of the line is already there: these must not wait for typing.
            ASSERT_EQ(client_.ReadText(c.count, &text, kPromptAnswerMs), WaitResult::kReplied);
            EXPECT_EQ(text, c.reads[i]);
        }
        EXPECT_TRUE(e2e::WaitUntil([&] { return terminal_.Row(row) == c.echoed; }))
            << terminal_.ScreenText();
        row += 2;
    }
}

TEST_F(ConsoleOnTerminal, WriteTextShowsCodePage866AsUnicodeAndCountZeroWritesNothing) {
    ASSERT_EQ(client_.SetCursor(3, 2), WaitResult::kReplied);
    ASSERT_TRUE(e2e::WaitUntil([&] { return CursorAt(2, 3); }));
    size_t bytesBefore = terminal_.BytesReceived();
    std::memcpy(client_.Region() + conclient::kDefaultDataOffset, "NOTME", 5);
    ASSERT_EQ(client_.Raw(conclient::ConWriteText, conclient::kDefaultDataOffset, 0, nullptr),
              WaitResult::kReplied);
    ASSERT_EQ(client_.Nop(conclient::ConNop5), WaitResult::kReplied);
    EXPECT_EQ(terminal_.BytesReceived(), bytesBefore);
    EXPECT_TRUE(CursorAt(2, 3));

    const std::string privet = "\x8F\xE0\xA8\xA2\xA5\xE2";
    ASSERT_EQ(client_.WriteText(privet + " 866"), WaitResult::kReplied);
    EXPECT_TRUE(e2e::WaitUntil([&] {
        return terminal_.Row(2) == "   \xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 866";
    })) << terminal_.Row(2);
    EXPECT_TRUE(CursorAt(2, 13));
}

TEST_F(ConsoleOnTerminal, TextLongerThanTheDataAreaIsWrittenWhole) {
    // More than the region holds past the data offset: the client sends it in pieces.
    std::string text(9000 - 5, 'x');
    text += "TAIL!";
    ASSERT_EQ(client_.SetCursor(0, 0), WaitResult::kReplied);
    size_t bytesBefore = terminal_.BytesReceived();
    ASSERT_EQ(client_.WriteText(text), WaitResult::kReplied);
    EXPECT_TRUE(e2e::WaitUntil([&] {
        int row = 0, col = 0;
        terminal_.Cursor(&row, &col);
        std::string last = terminal_.Row(row);
        return last.size() >= 5 && last.substr(last.size() - 5) == "TAIL!";
    })) << terminal_.ScreenText();
    EXPECT_GE(terminal_.BytesReceived() - bytesBefore, text.size());
}

// Text that fills a row leaves the cursor at the next row's start at once, as a Windows console
// does (a VT terminal would hold it at the margin): the screen information says so, what comes
// next starts there, and on the last row the screen scrolls. A line's echo follows the same rule.
TEST_F(ConsoleOnTerminal, TextEndingAtTheRightMarginGoesOnToTheNextLine) {
    struct Case {
        const char* name;
        int16_t col, row;      // where the cursor is put first
        std::string text;      // then written
        std::string typed;     // then typed into a line read, when not empty
        int cursorX, cursorY;  // the cursor reported after that
        std::vector<std::pair<int, std::string>> rows;  // and rows of the screen
    };
    const std::string full(e2e::kScreenCols, 'a');
    const Case cases[] = {
        {"a full row, then CR LF: a blank row between",
         0,
         3,
         full + "\r\nb",
         "",
         1,
         5,
         {{3, full}, {4, ""}, {5, "b"}}},
        {"across one margin onto the next",
         70,
         8,
         std::string(90, 'c'),
         "",
         0,
         10,
         {{9, std::string(80, 'c')}, {10, ""}}},
        {"a Backspace acts on the next row", 0, 12, full + "\bd", "", 1, 13, {{13, "d"}}},
        {"a tab from column 76 goes on to the next row", 76, 10, "\tA", "", 1, 11, {{11, "A"}}},
        {"a line's echo up to the margin, then Enter",
         70,
         15,
         "",
         "0123456789\r",
         0,
         17,
         {{15, std::string(70, ' ') + "0123456789"}, {16, ""}}},
        {"the last row: the screen scrolls up one",
         0,
         24,
         std::string(80, 'f'),
         "",
         0,
         24,
         {{23, std::string(80, 'f')}, {24, ""}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int32_t status = -1;
        ASSERT_EQ(client_.ClearScreen(&status), WaitResult::kReplied);
        ASSERT_EQ(client_.SetCursor(c.col, c.row), WaitResult::kReplied);
        if (!c.text.empty()) {
            ASSERT_EQ(client_.WriteText(c.text), WaitResult::kReplied);
        }
        if (!c.typed.empty()) {
            std::future<std::string> line = ReadTextAsync(40);
            terminal_.Type(c.typed);
            EXPECT_EQ(line.get(), "0123456789\r\n");
        }
        conclient::ScreenInfo s;
        ASSERT_EQ(client_.GetScreenInfo(&s), WaitResult::kReplied);
        EXPECT_EQ(s.cursorX, c.cursorX);
        EXPECT_EQ(s.cursorY, c.cursorY);
        EXPECT_TRUE(e2e::WaitUntil([&] {
            for (const auto& row : c.rows) {
                if (terminal_.Row(row.first) != row.second)
                    return false;
            }
            return CursorAt(c.cursorY, c.cursorX);
        })) << terminal_.ScreenText();
    }
}

// A full input queue: the server reads on, so the answer to its own cursor query comes through
// however many keys wait before it, or (when even the bytes it holds are full) the cursor it
// followed is reported at once. No answer of the terminal ever becomes a key, the typed keys
// all come, in order, and nothing else.
TEST_F(ConsoleOnTerminal, AFullInputQueueReportsTheTrueCursorAndInventsNoKeys) {
    struct Case {
        const char* name;
        size_t letters;  // two records each: 2048 fill the queue
    };
    const Case cases[] = {
        {"the answer among the bytes held", 3000},
        {"the held bytes full as well", 8000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(client_.SetCursor(0, 0), WaitResult::kReplied);
        // On the first row: a late answer there, ESC [ 1 ; 6 R, reads as Ctrl+Shift+F3.
        ASSERT_EQ(client_.WriteText("hello"), WaitResult::kReplied);
        std::string letters;
        for (size_t i = 0; i < c.letters; ++i) letters += static_cast<char>('a' + i % 26);
        terminal_.Type(letters);
        for (int query = 0; query < 2; ++query) {
            conclient::ScreenInfo s;
            ASSERT_EQ(client_.GetScreenInfo(&s), WaitResult::kReplied);
            EXPECT_EQ(s.cursorX, 5) << "query " << query;
            EXPECT_EQ(s.cursorY, 0) << "query " << query;
        }
        size_t wrong = 0;
        for (size_t i = 0; i < 2 * c.letters; ++i) {
            InputRecord r;
            uint32_t result = 0;
            ASSERT_EQ(client_.ReadInput(&r, &result, e2e::kWaitMs), WaitResult::kReplied)
                << "record " << i;
            ASSERT_EQ(result, 1u);
            if (r.asciiChar != letters[i / 2] || r.keyDown != (i % 2 == 0))
                ++wrong;
        }
        EXPECT_EQ(wrong, 0u);
        // Once the queue has room the terminal's late answer is read, and it is no key.
        conclient::ScreenInfo s;
        ASSERT_EQ(client_.GetScreenInfo(&s), WaitResult::kReplied);
        EXPECT_EQ(s.cursorX, 5);
        InputRecord extra;
        uint32_t result = 9;
        ASSERT_EQ(client_.PeekInput(&extra, &result), WaitResult::kReplied);
        EXPECT_EQ(result, 0u) << "a key nobody typed, vk " << extra.virtualKeyCode;
    }
}

// Requests whose data would reach outside the 8192-byte region are answered and touch nothing.
TEST_F(ConsoleOnTerminal, RequestsReachingOutsideTheRegionAreAnsweredAndTouchNothing) {
    struct Case {
        int32_t command;
        int32_t dataOffset;
        uint32_t count;
    };
    const Case cases[] = {
        {conclient::ConGetScreenInfo, -1, 0},         {conclient::ConGetScreenInfo, 8192 - 21, 0},
        {conclient::ConGetScreenInfo, 0x7FFFFFF0, 0}, {conclient::ConPeekInput, -20, 0},
        {conclient::ConPeekInput, 8192 - 19, 0},      {conclient::ConReadInput, -4, 0},
        {conclient::ConReadInput, 8192 - 10, 0},      {conclient::ConReadText, -5, 3},
        {conclient::ConReadText, 8190, 10},           {conclient::ConReadText, 100, 8192},
        {conclient::ConReadText, 0x7FFFFFF0, 0x20},   {conclient::ConWriteText, -1, 1},
        {conclient::ConWriteText, 8190, 10},          {conclient::ConWriteText, 64, 0xFFFFFFFFu},
        {conclient::ConWriteText, 0x7FFFFFF0, 0x20},
    };
    // A key is waiting, so a read that was carried out would have something to deliver.
    terminal_.Type("z\r");
    uint8_t* region = client_.Region();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.command) + " at " + std::to_string(c.dataOffset) + " count " +
                     std::to_string(c.count));
        std::memset(region + 20, 0xAA, conclient::kRegionBytes - 20);
        size_t bytesBefore = terminal_.BytesReceived();
        conclient::ConsoleRequest r{};
        r.command = c.command;
        r.dataOffset = c.dataOffset;
        r.count = c.count;
        r.result = 0x5555;
        ASSERT_EQ(client_.Transact(&r, kPromptAnswerMs * 3), WaitResult::kReplied);
        if (c.command != conclient::ConGetScreenInfo && c.command != conclient::ConWriteText) {
            EXPECT_EQ(r.result, 0u);
        }
        bool untouched = true;
        for (size_t i = 20; i < conclient::kRegionBytes; ++i) untouched &= region[i] == 0xAA;
        EXPECT_TRUE(untouched);
        ASSERT_EQ(client_.Nop(conclient::ConNop10), WaitResult::kReplied);
        if (c.command == conclient::ConWriteText) {
            EXPECT_EQ(terminal_.BytesReceived(), bytesBefore);
        }
    }
    // The typed key is still there for a request that fits.
    std::vector<InputRecord> got = ReadRecords(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].asciiChar, 'z');
}

TEST_F(ConsoleOnTerminal, TerminalSettingsAreRestoredOnEveryWayOut) {
    termios during{};
    ASSERT_EQ(tcgetattr(terminal_.SlaveFd(), &during), 0);
    EXPECT_FALSE(e2e::SameTermios(before_, during)) << "input mode was not changed";
    ASSERT_EQ(client_.Exit(nullptr), WaitResult::kReplied);
    ASSERT_TRUE(client_.WaitServerExit(e2e::kWaitMs).ended);
    termios after{};
    ASSERT_EQ(tcgetattr(terminal_.SlaveFd(), &after), 0);
    EXPECT_TRUE(e2e::SameTermios(before_, after));
}

class RestoredAfterSignal : public ConsoleOnTerminal, public ::testing::WithParamInterface<int> {};

TEST_P(RestoredAfterSignal, TerminalSettingsAreRestored) {
    client_.SignalServer(GetParam());
    const conclient::ServerExit e = client_.WaitServerExit(e2e::kWaitMs);
    ASSERT_TRUE(e.ended);
    // Ended by the signal itself, after the terminal was put back.
    EXPECT_EQ(e.signal, GetParam());
    termios after{};
    ASSERT_EQ(tcgetattr(terminal_.SlaveFd(), &after), 0);
    EXPECT_TRUE(e2e::SameTermios(before_, after));
}

INSTANTIATE_TEST_SUITE_P(Signals, RestoredAfterSignal, ::testing::Values(SIGTERM, SIGHUP, SIGINT),
                         [](const ::testing::TestParamInfo<int>& signal) {
                             return std::string(strsignal(signal.param)).substr(0, 4) +
                                    std::to_string(signal.param);
                         });

// A client's bytes are shown as a Windows console shows them (default output mode): control
// bytes other than BEL, BS, HT, LF and CR as their glyphs, so an escape sequence is only text,
// and a query in it draws no answer that would come back as typed keys.
TEST_F(ConsoleOnTerminal, ClientTextNeverDrivesTheTerminal) {
    ASSERT_EQ(client_.SetCursor(0, 2), WaitResult::kReplied);
    ASSERT_EQ(client_.WriteText("A\x1b[31mB\x01\x7f\x1b]0;t\x07Z\x1b[6n"), WaitResult::kReplied);
    EXPECT_TRUE(e2e::WaitUntil([&] {
        return terminal_.Row(2) == "A\u2190[31mB\u263A\u2302\u2190]0;tZ\u2190[6n";
    })) << terminal_.ScreenText();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    InputRecord r;
    uint32_t result = 9;
    ASSERT_EQ(client_.PeekInput(&r, &result), WaitResult::kReplied);
    EXPECT_EQ(result, 0u) << "the terminal answered a query a client wrote";
}

// A reply that never came: the server still holds that request, so the client sends nothing
// until the late reply is in (its answer dropped); then it is in step again. The late line
// must not become the text of the next write.
TEST_F(ConsoleOnTerminal, ReplyThatNeverCameKeepsTheNextCallsOutUntilItComes) {
    std::string text;
    ASSERT_EQ(client_.ReadText(10, &text, 200), WaitResult::kTimedOut);
    EXPECT_EQ(client_.WriteText("hello"), WaitResult::kOutOfStep);
    EXPECT_EQ(client_.Nop(conclient::ConNop5), WaitResult::kOutOfStep);
    conclient::ScreenInfo s;
    EXPECT_EQ(client_.GetScreenInfo(&s), WaitResult::kOutOfStep);

    terminal_.Type("late\r");
    ASSERT_TRUE(
        e2e::WaitUntil([&] { return conclient::ClientTestAccess::ReplyEventIsSet(client_); }));
    ASSERT_EQ(client_.SetCursor(0, 5), WaitResult::kReplied);
    ASSERT_EQ(client_.WriteText("hello"), WaitResult::kReplied);
    EXPECT_TRUE(e2e::WaitUntil([&] { return terminal_.Row(5) == "hello"; }))
        << terminal_.ScreenText();
}

}  // namespace

namespace {

// Ctrl+C on the server's console ends it as a Windows console's default handler does: the read
// that waits for keys is answered by the server's end, never by a key, and the terminal is back.
TEST_F(ConsoleOnTerminal, CtrlCEndsTheServerAndTheWaitingClientIsToldSo) {
    auto read = std::async(std::launch::async, [this] {
        std::string text;
        return client_.ReadText(10, &text, e2e::kWaitMs);
    });
    terminal_.Type("\x03");
    EXPECT_EQ(read.get(), WaitResult::kServerDied);
    const conclient::ServerExit e = client_.WaitServerExit(e2e::kWaitMs);
    ASSERT_TRUE(e.ended);
    EXPECT_EQ(e.signal, SIGINT);
    termios after{};
    ASSERT_EQ(tcgetattr(terminal_.SlaveFd(), &after), 0);
    EXPECT_TRUE(e2e::SameTermios(before_, after));
}

}  // namespace

namespace {

// A job-control shell in miniature, run as the session leader of the emulated terminal: it starts
// conproxy as a job of its own in the foreground, and with stopAndContinue stops that job
// (SIGTSTP), takes the terminal back in its own line mode and continues the job in the
// foreground, as `fg` does. Then it sends endSignal, either with the job in the foreground or
// after taking the foreground back itself (inBackground), and then with otherJob, as another
// job brought to the foreground would, a mode of its own on the terminal. Returns 0 when every
// step went as it must; otherwise the number of the step that failed.
int ShellSession(const std::string& ttyPath, const conclient::ClientNames& names,
                 bool stopAndContinue, bool inBackground, bool otherJob, int endSignal) {
    const int tty = open(ttyPath.c_str(), O_RDWR);
    if (tty < 0) {
        return 2;
    }
    signal(SIGTTOU, SIG_IGN);  // a shell hands the foreground around from the background too
    termios lineMode{};
    tcgetattr(tty, &lineMode);
    const pid_t server = fork();
    if (server == 0) {
        setpgid(0, 0);
        tcsetpgrp(tty, getpid());
        signal(SIGTTOU, SIG_DFL);
        dup2(tty, STDIN_FILENO);
        dup2(tty, STDOUT_FILENO);
        dup2(tty, STDERR_FILENO);
        const std::string path = e2e::ServerPath();
        execl(path.c_str(), path.c_str(), names.suffix.c_str(), names.requestEvent.c_str(),
              names.replyEvent.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    setpgid(server, server);
    tcsetpgrp(tty, server);
    const auto raw = [tty] {
        return e2e::WaitUntil([tty] {
            termios mode{};
            return tcgetattr(tty, &mode) == 0 && (mode.c_lflag & ICANON) == 0;
        });
    };
    int status = 0;
    const auto end = [&](int step) {
        kill(server, SIGKILL);
        kill(server, SIGCONT);
        waitpid(server, &status, 0);
        return step;
    };
    if (!raw()) {
        return end(3);
    }
    termios serverMode{};
    tcgetattr(tty, &serverMode);
    if (stopAndContinue) {
        kill(-server, SIGTSTP);
        if (waitpid(server, &status, WUNTRACED) != server || !WIFSTOPPED(status)) {
            return end(4);
        }
        tcsetpgrp(tty, getpgrp());
        tcsetattr(tty, TCSADRAIN, &lineMode);
        tcsetpgrp(tty, server);
        kill(-server, SIGCONT);
        const bool modeBack = e2e::WaitUntil([&] {
            termios mode{};
            return tcgetattr(tty, &mode) == 0 && e2e::SameTermios(mode, serverMode);
        });
        if (!modeBack) {
            return end(5);  // continued with the shell's line mode left on its terminal
        }
    }
    termios expectedAtEnd = lineMode;
    if (inBackground) {
        tcsetpgrp(tty, getpgrp());
        if (otherJob) {
            cfmakeraw(&expectedAtEnd);
            tcsetattr(tty, TCSADRAIN, &expectedAtEnd);
        }
    }
    kill(server, endSignal);
    if (waitpid(server, &status, WUNTRACED) != server) {
        return end(6);
    }
    if (WIFSTOPPED(status)) {
        return end(7);  // stopped on its way out instead of ending
    }
    if (!WIFSIGNALED(status) || WTERMSIG(status) != endSignal) {
        return 8;
    }
    termios after{};
    if (tcgetattr(tty, &after) != 0 || !e2e::SameTermios(expectedAtEnd, after)) {
        return 9;  // its terminal not given back as it was, or another job's mode replaced
    }
    return 0;
}

int RunShellSession(bool stopAndContinue, bool inBackground, bool otherJob, int endSignal) {
    e2e::EmulatedTerminal terminal;
    if (!terminal.Ok()) {
        return 1;
    }
    const conclient::ClientNames names = conclient::UniqueNames();
    e2e::ShmNamesGuard guard(names.suffix, names.requestEvent, names.replyEvent);
    test_support::SpawnOptions options;
    options.ttyPath = terminal.SlavePath();
    options.timeLimit = std::chrono::seconds(30);
    test_support::Child shell(options, [&] {
        return ShellSession(terminal.SlavePath(), names, stopAndContinue, inBackground, otherJob,
                            endSignal);
    });
    const test_support::ExitInfo& exit = shell.Wait();
    return exit.exited ? exit.exitStatus : 100 + exit.signal;
}

// A shell's fg after a stop: the shell had its own line mode on the terminal meanwhile; the
// continued server puts its raw input mode back (keys one by one, no echo, Ctrl+Z a key).
TEST(ConsoleJobControl, ContinuedInTheForegroundTheServerSetsItsTerminalModeAgain) {
    for (int trial = 0; trial < 3; ++trial) {
        SCOPED_TRACE(trial);
        EXPECT_EQ(RunShellSession(true, false, false, SIGTERM), 0);
    }
}

// An ending signal while the server's job is in the background: the terminal call that gives the
// terminal back must not stop it (SIGTTOU); it ends by the signal, the terminal restored while
// the server's mode was still on it, and left alone when another job has put its own there.
TEST(ConsoleJobControl, EndingSignalInTheBackgroundEndsTheServer) {
    for (const int endSignal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(endSignal));
        EXPECT_EQ(RunShellSession(false, true, false, endSignal), 0);
        EXPECT_EQ(RunShellSession(true, true, false, endSignal), 0);
        EXPECT_EQ(RunShellSession(false, true, true, endSignal), 0);
    }
}

}  // namespace
