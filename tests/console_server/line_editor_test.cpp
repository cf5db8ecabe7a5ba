// Line mode over input records: what is echoed and what the reader gets.
#include "line_editor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace conproxy;

InputRecord Key(char character, bool down = true) {
    InputRecord record{};
    record.eventType = kKeyEvent;
    record.event.key.keyDown = down ? 1 : 0;
    record.event.key.repeatCount = 1;
    record.event.key.asciiChar = character;
    return record;
}

// Feeds the typed keys (each down then up) and returns the echo.
std::string Type(LineEditor& editor, const std::string& keys) {
    std::string echo;
    for (char c : keys) {
        editor.Take(Key(c), echo);
        editor.Take(Key(c, false), echo);
    }
    return echo;
}

std::string Read(LineEditor& editor, uint32_t size) {
    std::string buffer(size, '\0');
    buffer.resize(editor.Deliver(&buffer[0], size));
    return buffer;
}

TEST(LineEditor, EditedLineIsDeliveredWithCrLf) {
    const struct {
        const char* keys;
        const char* echo;
        const char* line;
    } cases[] = {
        {"abc\r", "abc\r\n", "abc\r\n"},
        {"\r", "\r\n", "\r\n"},
        {"ab\bc\r", "ab\b \bc\r\n", "ac\r\n"},
        {"\b\bx\r", "x\r\n", "x\r\n"},                   // nothing to erase: no echo
        {"\xa0\xe1\r", "\xa0\xe1\r\n", "\xa0\xe1\r\n"},  // 866 letters pass as they are
    };
    for (const auto& c : cases) {
        LineEditor editor;
        EXPECT_EQ(Type(editor, c.keys), c.echo) << c.keys;
        EXPECT_EQ(Read(editor, 100), c.line) << c.keys;
        EXPECT_FALSE(editor.HasText());
    }
}

TEST(LineEditor, NoTextBeforeEnter) {
    LineEditor editor;
    Type(editor, "abc");
    EXPECT_FALSE(editor.HasText());
}

TEST(LineEditor, ShortReadsLeaveTheRestForTheNext) {
    LineEditor editor;
    Type(editor, "hello\r");
    EXPECT_EQ(Read(editor, 3), "hel");
    EXPECT_TRUE(editor.HasText());
    EXPECT_EQ(Read(editor, 3), "lo\r");
    EXPECT_EQ(Read(editor, 3), "\n");
    EXPECT_FALSE(editor.HasText());
}

TEST(LineEditor, RecordsWithoutCharactersAreDropped) {
    LineEditor editor;
    std::string echo;
    InputRecord resize{};
    resize.eventType = kWindowBufferSizeEvent;
    resize.event.windowSize.size = ConsoleCoord{100, 40};
    InputRecord arrow = Key(0);
    arrow.event.key.virtualKeyCode = 0x25;
    EXPECT_FALSE(editor.Take(resize, echo));
    EXPECT_FALSE(editor.Take(arrow, echo));
    EXPECT_TRUE(echo.empty());
    Type(editor, "a\r");
    EXPECT_EQ(Read(editor, 10), "a\r\n");
}

// Editing keys as the key decoder makes them: the virtual key, no character (Esc has its own).
InputRecord EditKey(uint16_t virtualKey, uint32_t state = 0) {
    InputRecord record = Key(virtualKey == 0x1B ? '\x1b' : 0);
    record.event.key.virtualKeyCode = virtualKey;
    record.event.key.controlKeyState = state;
    return record;
}
constexpr uint16_t kEsc = 0x1B, kEnd = 0x23, kHome = 0x24, kLeft = 0x25, kUp = 0x26, kRight = 0x27,
                   kDown = 0x28, kDelete = 0x2E;

// A script of typed text and editing keys, as the console's line editing treats them.
struct Stroke {
    const char* text;  // typed characters, or null for the key
    uint16_t key;
    uint32_t state;
};
std::string Play(LineEditor& editor, const std::vector<Stroke>& strokes) {
    std::string echo;
    for (const Stroke& s : strokes) {
        if (s.text != nullptr) {
            echo += Type(editor, s.text);
        } else {
            editor.Take(EditKey(s.key, s.state), echo);
            editor.Take(EditKey(s.key, s.state), echo);  // a second stroke of the same key
        }
    }
    return echo;
}

TEST(LineEditor, EditingKeysWorkAtTheEditCursor) {
    const struct {
        const char* name;
        std::vector<Stroke> strokes;
        const char* line;
        const char* echo;
    } cases[] = {
        {"Left twice then insert",
         {{"abc", 0, 0}, {nullptr, kLeft, 0}, {"X\r", 0, 0}},
         "aXbc\r\n",
         "abc\b\bXbc\b\bbc\r\n"},
        {"Left past the start stays there",
         {{"ab", 0, 0}, {nullptr, kLeft, 0}, {nullptr, kLeft, 0}, {"X\r", 0, 0}},
         "Xab\r\n",
         "ab\b\bXab\b\bab\r\n"},
        {"Home, Delete twice",
         {{"abc", 0, 0}, {nullptr, kHome, 0}, {nullptr, kDelete, 0}, {"\r", 0, 0}},
         "c\r\n",
         "abc\b\b\bbc \b\b\bc \b\bc\r\n"},
        {"Backspace in the middle",
         {{"abc", 0, 0}, {nullptr, kLeft, 0}, {"\b\r", 0, 0}},
         "bc\r\n",
         "abc\b\b\bbc \b\b\bbc\r\n"},
        {"Right and End move forward again",
         {{"abcd", 0, 0},
          {nullptr, kHome, 0},
          {nullptr, kRight, 0},
          {"X", 0, 0},
          {nullptr, kEnd, 0},
          {"Y\r", 0, 0}},
         "abXcdY\r\n",
         nullptr},
        {"Esc clears the line",
         {{"abc", 0, 0}, {nullptr, kEsc, 0}, {"d\r", 0, 0}},
         "d\r\n",
         "abc\b\b\b   \b\b\bd\r\n"},
        {"control characters echo as ^ and a letter, and are erased whole",
         {{"a\x01"
           "b\x1b",
           0, 0},
          {nullptr, kLeft, 0},
          {"\b\r", 0, 0}},
         "ab\x1b\r\n",
         "a^Ab^[\b\b\b\b\bb^[  \b\b\b\b\bb^[\r\n"},
        {"Ctrl+Left is no edit and types nothing",
         {{"ab", 0, 0}, {nullptr, kLeft, kLeftCtrlPressed}, {"c\r", 0, 0}},
         "abc\r\n",
         "abc\r\n"},
    };
    for (const auto& c : cases) {
        LineEditor editor;
        const std::string echo = Play(editor, c.strokes);
        EXPECT_EQ(Read(editor, 100), c.line) << c.name;
        if (c.echo != nullptr) {
            EXPECT_EQ(echo, c.echo) << c.name;
        }
    }
}

TEST(LineEditor, UpAndDownRecallEarlierLines) {
    LineEditor editor;
    Type(editor, "first\r");
    Type(editor, "\r");  // empty lines are not kept
    Type(editor, "second\r");
    Read(editor, 100);
    std::string echo;
    editor.Take(EditKey(kUp), echo);
    EXPECT_EQ(echo, "second");
    editor.Take(EditKey(kUp), echo);
    editor.Take(EditKey(kUp), echo);  // no older line: it stays
    editor.Take(EditKey(kDown), echo);
    editor.Take(EditKey(kDown), echo);  // no newer line: it stays
    Type(editor, "!\r");
    EXPECT_EQ(Read(editor, 100), "second!\r\n");
    // A recalled line that is entered is kept again; a shorter one blanks the rest of the
    // longer one on the screen.
    echo.clear();
    Type(editor, "x");
    editor.Take(EditKey(kUp), echo);
    editor.Take(EditKey(kUp), echo);
    EXPECT_EQ(echo, "\bsecond!\b\b\b\b\b\b\bsecond \b");
}

TEST(LineEditor, RepeatCountTypesTheCharacterThatManyTimes) {
    LineEditor editor;
    std::string echo;
    InputRecord held = Key('z');
    held.event.key.repeatCount = 3;
    editor.Take(held, echo);
    EXPECT_EQ(echo, "zzz");
    Type(editor, "\r");
    EXPECT_EQ(Read(editor, 10), "zzz\r\n");
}

// A flood typed into one line, and many lines: the line stops growing at its bound (the rest
// of the keys are dropped, the line still ends with CR LF), the history keeps its last lines.
TEST(LineEditor, LineAndHistoryAreBounded) {
    LineEditor editor;
    Type(editor, std::string(kMaxLineChars + 100, 'x') + "\r");
    EXPECT_EQ(Read(editor, 10000), std::string(kMaxLineChars, 'x') + "\r\n");

    for (size_t i = 0; i < kMaxHistoryLines + 10; ++i) {
        Type(editor, "line" + std::to_string(i) + "\r");
        Read(editor, 100);
    }
    InputRecord up{};
    up.eventType = kKeyEvent;
    up.event.key.keyDown = 1;
    up.event.key.repeatCount = 1;
    up.event.key.virtualKeyCode = 0x26;  // VK_UP
    std::string echo;
    for (size_t i = 0; i < kMaxHistoryLines + 20; ++i) {
        editor.Take(up, echo);
    }
    Type(editor, "\r");
    EXPECT_EQ(Read(editor, 100), "line10\r\n");  // the oldest line kept
}

}  // namespace
