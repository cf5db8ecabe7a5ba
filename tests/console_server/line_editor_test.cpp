// Line mode over input records: what is echoed and what the reader gets.
#include "line_editor.h"

#include <gtest/gtest.h>

#include <string>

namespace {

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

}  // namespace
