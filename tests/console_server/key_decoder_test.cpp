// The key decoder against what a Windows console delivers for the same keys: one table of
// terminal bytes and the records they must give, then the cases that depend on how the bytes
// arrive (split reads, the Esc pause, cursor reports among typed keys, runaway sequences).
#include "key_decoder.h"

#include <gtest/gtest.h>

#include <deque>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

namespace {

using namespace conproxy;

constexpr uint32_t S = kShiftPressed;
constexpr uint32_t C = kLeftCtrlPressed;
constexpr uint32_t A = kLeftAltPressed;
constexpr uint32_t E = kEnhancedKey;

// One key record in short: {down, virtual key, scan code, character, control-key state}.
struct Rec {
    int down;
    int vk;
    int scan;
    int ch;
    uint32_t state;
    bool operator==(const Rec& o) const {
        return down == o.down && vk == o.vk && scan == o.scan && ch == o.ch && state == o.state;
    }
};
void PrintTo(const Rec& r, std::ostream* os) {
    *os << std::hex << "{" << (r.down ? "down" : "up") << " vk " << r.vk << " scan " << r.scan
        << " ch " << r.ch << " state " << r.state << "}";
}
using Recs = std::vector<Rec>;

Recs Tap(int vk, int scan, int ch, uint32_t state) {
    return {{1, vk, scan, ch, state}, {0, vk, scan, ch, state}};
}
Recs Cat(std::initializer_list<Recs> parts) {
    Recs all;
    for (const Recs& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}
const Recs kShiftDown = {{1, 0x10, 0x2A, 0, S}};
const Recs kShiftUp = {{0, 0x10, 0x2A, 0, 0}};
const Recs kCtrlDown = {{1, 0x11, 0x1D, 0, C}};
const Recs kCtrlUp = {{0, 0x11, 0x1D, 0, 0}};
const Recs kAltDown = {{1, 0x12, 0x38, 0, A}};
const Recs kAltUp = {{0, 0x12, 0x38, 0, 0}};
Recs Shifted(int vk, int scan, int ch, uint32_t extra = 0) {
    return Cat({kShiftDown, Tap(vk, scan, ch, S | extra), kShiftUp});
}
Recs Ctrl(int vk, int scan, int ch, uint32_t extra = 0) {
    return Cat({kCtrlDown, Tap(vk, scan, ch, C | extra), kCtrlUp});
}
Recs Alt(int vk, int scan, int ch, uint32_t extra = 0) {
    return Cat({kAltDown, Tap(vk, scan, ch, A | extra), kAltUp});
}
const Recs kEscKey = Tap(0x1B, 0x01, 0x1B, 0);

// Every record must be a key event with repeat 1 and the high byte of the character 0;
// the rest is compared through Rec.
Recs ToRecs(const std::deque<InputRecord>& records) {
    Recs recs;
    for (const InputRecord& r : records) {
        EXPECT_EQ(r.eventType, kKeyEvent);
        EXPECT_EQ(r.event.key.repeatCount, 1);
        EXPECT_EQ(r.event.key.charHighByte, 0);
        recs.push_back(
            {r.event.key.keyDown, r.event.key.virtualKeyCode, r.event.key.virtualScanCode,
             static_cast<unsigned char>(r.event.key.asciiChar), r.event.key.controlKeyState});
    }
    return recs;
}

Recs FeedAll(KeyDecoder& decoder, const std::string& bytes) {
    std::deque<InputRecord> out;
    decoder.Feed(bytes.data(), bytes.size(), out);
    return ToRecs(out);
}

struct Case {
    const char* name;
    std::string bytes;
    Recs expected;
};

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = {
        // Main block: letters, digits, punctuation, plain and shifted.
        {"a", "a", Tap(0x41, 0x1E, 'a', 0)},
        {"q", "q", Tap(0x51, 0x10, 'q', 0)},
        {"p", "p", Tap(0x50, 0x19, 'p', 0)},
        {"l", "l", Tap(0x4C, 0x26, 'l', 0)},
        {"z", "z", Tap(0x5A, 0x2C, 'z', 0)},
        {"m", "m", Tap(0x4D, 0x32, 'm', 0)},
        {"capital A", "A", Shifted(0x41, 0x1E, 'A')},
        {"capital M", "M", Shifted(0x4D, 0x32, 'M')},
        {"1", "1", Tap(0x31, 0x02, '1', 0)},
        {"9", "9", Tap(0x39, 0x0A, '9', 0)},
        {"0", "0", Tap(0x30, 0x0B, '0', 0)},
        {"!", "!", Shifted(0x31, 0x02, '!')},
        {"@", "@", Shifted(0x32, 0x03, '@')},
        {"^", "^", Shifted(0x36, 0x07, '^')},
        {")", ")", Shifted(0x30, 0x0B, ')')},
        {"space", " ", Tap(0x20, 0x39, ' ', 0)},
        {";", ";", Tap(0xBA, 0x27, ';', 0)},
        {":", ":", Shifted(0xBA, 0x27, ':')},
        {"=", "=", Tap(0xBB, 0x0D, '=', 0)},
        {"+", "+", Shifted(0xBB, 0x0D, '+')},
        {",", ",", Tap(0xBC, 0x33, ',', 0)},
        {"<", "<", Shifted(0xBC, 0x33, '<')},
        {"-", "-", Tap(0xBD, 0x0C, '-', 0)},
        {"_", "_", Shifted(0xBD, 0x0C, '_')},
        {".", ".", Tap(0xBE, 0x34, '.', 0)},
        {">", ">", Shifted(0xBE, 0x34, '>')},
        {"/", "/", Tap(0xBF, 0x35, '/', 0)},
        {"?", "?", Shifted(0xBF, 0x35, '?')},
        {"`", "`", Tap(0xC0, 0x29, '`', 0)},
        {"~", "~", Shifted(0xC0, 0x29, '~')},
        {"[", "[", Tap(0xDB, 0x1A, '[', 0)},
        {"{", "{", Shifted(0xDB, 0x1A, '{')},
        {"backslash", "\\", Tap(0xDC, 0x2B, '\\', 0)},
        {"|", "|", Shifted(0xDC, 0x2B, '|')},
        {"]", "]", Tap(0xDD, 0x1B, ']', 0)},
        {"}", "}", Shifted(0xDD, 0x1B, '}')},
        {"'", "'", Tap(0xDE, 0x28, '\'', 0)},
        {"\"", "\"", Shifted(0xDE, 0x28, '"')},
        {"word", "aB", Cat({Tap(0x41, 0x1E, 'a', 0), Shifted(0x42, 0x30, 'B')})},
        // Keys the terminal sends as control bytes.
        {"Enter as CR", "\r", Tap(0x0D, 0x1C, '\r', 0)},
        {"Enter as LF", "\n", Tap(0x0D, 0x1C, '\r', 0)},
        {"Backspace as DEL", "\x7f", Tap(0x08, 0x0E, 8, 0)},
        {"Backspace as BS", "\b", Tap(0x08, 0x0E, 8, 0)},
        {"Tab", "\t", Tap(0x09, 0x0F, 9, 0)},
        {"Shift+Tab", "\x1b[Z", Shifted(0x09, 0x0F, 9)},
        {"Ctrl+A", "\x01", Ctrl(0x41, 0x1E, 1)},
        {"Ctrl+C", "\x03", Ctrl(0x43, 0x2E, 3)},
        {"Ctrl+Z", "\x1a", Ctrl(0x5A, 0x2C, 26)},
        {"Ctrl+Space", std::string(1, '\0'), Ctrl(0x20, 0x39, 0)},
        {"Ctrl+backslash", "\x1c", Ctrl(0xDC, 0x2B, 0x1C)},
        {"Ctrl+]", "\x1d", Ctrl(0xDD, 0x1B, 0x1D)},
        // Several modifiers go down Shift, Alt, Ctrl and come up the other way round.
        {"Ctrl+^ (Ctrl+Shift+6)", "\x1e",
         Cat({kShiftDown,
              {{1, 0x11, 0x1D, 0, C | S}},
              Tap(0x36, 0x07, 0x1E, C | S),
              {{0, 0x11, 0x1D, 0, S}},
              kShiftUp})},
        // Alt comes as an ESC before the key.
        {"Alt+x", "\x1bx", Alt(0x58, 0x2D, 'x')},
        {"Alt+1",
         "\x1b"
         "1",
         Alt(0x31, 0x02, '1')},
        {"Alt+Shift+X", "\x1bX",
         Cat({kShiftDown,
              {{1, 0x12, 0x38, 0, A | S}},
              Tap(0x58, 0x2D, 'X', A | S),
              {{0, 0x12, 0x38, 0, S}},
              kShiftUp})},
        {"Alt+Enter", "\x1b\r", Alt(0x0D, 0x1C, '\r')},
        {"Ctrl+Alt+A", "\x1b\x01",
         Cat({kAltDown,
              {{1, 0x11, 0x1D, 0, C | A}},
              Tap(0x41, 0x1E, 1, C | A),
              {{0, 0x11, 0x1D, 0, A}},
              kAltUp})},
        {"Esc twice", "\x1b\x1b", kEscKey},  // the second is held for the pause
        {"Esc then Up", "\x1b\x1b[A", Cat({kEscKey, Tap(0x26, 0x48, 0, E)})},
        // Gray keys, CSI and SS3 forms.
        {"Up", "\x1b[A", Tap(0x26, 0x48, 0, E)},
        {"Down", "\x1b[B", Tap(0x28, 0x50, 0, E)},
        {"Right", "\x1b[C", Tap(0x27, 0x4D, 0, E)},
        {"Left", "\x1b[D", Tap(0x25, 0x4B, 0, E)},
        {"Home", "\x1b[H", Tap(0x24, 0x47, 0, E)},
        {"End", "\x1b[F", Tap(0x23, 0x4F, 0, E)},
        {"SS3 Up", "\x1bOA", Tap(0x26, 0x48, 0, E)},
        {"SS3 Down", "\x1bOB", Tap(0x28, 0x50, 0, E)},
        {"SS3 Right", "\x1bOC", Tap(0x27, 0x4D, 0, E)},
        {"SS3 Left", "\x1bOD", Tap(0x25, 0x4B, 0, E)},
        {"SS3 Home", "\x1bOH", Tap(0x24, 0x47, 0, E)},
        {"SS3 End", "\x1bOF", Tap(0x23, 0x4F, 0, E)},
        {"Home 1~", "\x1b[1~", Tap(0x24, 0x47, 0, E)},
        {"Home 7~", "\x1b[7~", Tap(0x24, 0x47, 0, E)},
        {"End 4~", "\x1b[4~", Tap(0x23, 0x4F, 0, E)},
        {"End 8~", "\x1b[8~", Tap(0x23, 0x4F, 0, E)},
        {"Insert", "\x1b[2~", Tap(0x2D, 0x52, 0, E)},
        {"Delete", "\x1b[3~", Tap(0x2E, 0x53, 0, E)},
        {"Page Up", "\x1b[5~", Tap(0x21, 0x49, 0, E)},
        {"Page Down", "\x1b[6~", Tap(0x22, 0x51, 0, E)},
        {"Ctrl+Up", "\x1b[1;5A", Ctrl(0x26, 0x48, 0, E)},
        {"Shift+Left", "\x1b[1;2D", Shifted(0x25, 0x4B, 0, E)},
        {"Alt+Down", "\x1b[1;3B", Alt(0x28, 0x50, 0, E)},
        {"Ctrl+Alt+Right", "\x1b[1;7C",
         Cat({kAltDown,
              {{1, 0x11, 0x1D, 0, C | A}},
              Tap(0x27, 0x4D, 0, C | A | E),
              {{0, 0x11, 0x1D, 0, A}},
              kAltUp})},
        {"Ctrl+Delete", "\x1b[3;5~", Ctrl(0x2E, 0x53, 0, E)},
        {"Shift+Page Up", "\x1b[5;2~", Shifted(0x21, 0x49, 0, E)},
        // Function keys in each form.
        {"F1 SS3", "\x1bOP", Tap(0x70, 0x3B, 0, 0)},
        {"F2 SS3", "\x1bOQ", Tap(0x71, 0x3C, 0, 0)},
        {"F3 SS3", "\x1bOR", Tap(0x72, 0x3D, 0, 0)},
        {"F4 SS3", "\x1bOS", Tap(0x73, 0x3E, 0, 0)},
        {"F1 11~", "\x1b[11~", Tap(0x70, 0x3B, 0, 0)},
        {"F4 14~", "\x1b[14~", Tap(0x73, 0x3E, 0, 0)},
        {"F5", "\x1b[15~", Tap(0x74, 0x3F, 0, 0)},
        {"F6", "\x1b[17~", Tap(0x75, 0x40, 0, 0)},
        {"F7", "\x1b[18~", Tap(0x76, 0x41, 0, 0)},
        {"F8", "\x1b[19~", Tap(0x77, 0x42, 0, 0)},
        {"F9", "\x1b[20~", Tap(0x78, 0x43, 0, 0)},
        {"F10", "\x1b[21~", Tap(0x79, 0x44, 0, 0)},
        {"F11", "\x1b[23~", Tap(0x7A, 0x57, 0, 0)},
        {"F12", "\x1b[24~", Tap(0x7B, 0x58, 0, 0)},
        {"Shift+F1", "\x1b[1;2P", Shifted(0x70, 0x3B, 0)},
        {"Ctrl+F3 (not a cursor report when none is asked for)", "\x1b[1;5R", Ctrl(0x72, 0x3D, 0)},
        {"Shift+F5", "\x1b[15;2~", Shifted(0x74, 0x3F, 0)},
        {"Ctrl+F12", "\x1b[24;5~", Ctrl(0x7B, 0x58, 0)},
        {"F1 Linux console", "\x1b[[A", Tap(0x70, 0x3B, 0, 0)},
        {"F5 Linux console", "\x1b[[E", Tap(0x74, 0x3F, 0, 0)},
        // Typed UTF-8 becomes the code page 866 character.
        {"Cyrillic Zhe", "Ж", Tap(0, 0, 0x86, 0)},
        {"Cyrillic ya", "я", Tap(0, 0, 0xEF, 0)},
        {"Cyrillic yo", "ё", Tap(0, 0, 0xF1, 0)},
        {"numero sign", "№", Tap(0, 0, 0xFC, 0)},
        {"Alt+Zhe", "\x1bЖ", Alt(0, 0, 0x86)},
        {"euro sign has no 866 byte", "€", Tap(0, 0, '?', 0)},
        {"four-byte character", "\xF0\x9F\x98\x80", Tap(0, 0, '?', 0)},
        {"stray continuation byte",
         "\x80"
         "a",
         Cat({Tap(0, 0, '?', 0), Tap(0x41, 0x1E, 'a', 0)})},
        {"invalid lead byte", "\xFF", Tap(0, 0, '?', 0)},
        {"overlong form", "\xC0\xAF", Cat({Tap(0, 0, '?', 0), Tap(0, 0, '?', 0)})},
        {"lead byte broken off by ASCII",
         "\xD0"
         "a",
         Cat({Tap(0, 0, '?', 0), Tap(0x41, 0x1E, 'a', 0)})},
        // Sequences that are no key: consumed whole, nothing produced, typing goes on.
        {"unknown tilde number", "a\x1b[99~b",
         Cat({Tap(0x41, 0x1E, 'a', 0), Tap(0x42, 0x30, 'b', 0)})},
        {"private-marker reply", "\x1b[?1;2c", {}},
        {"unknown SS3",
         "\x1bOx"
         "b",
         Tap(0x42, 0x30, 'b', 0)},
        {"cursor report nobody asked for", "\x1b[5;10R", {}},
        {"Linux console sequence past F5", "\x1b[[Z", {}},
        {"sequence broken off by Enter", "\x1b[1\r", Tap(0x0D, 0x1C, '\r', 0)},
    };
    return cases;
}

TEST(KeyDecoderTest, DecodesTerminalBytesAsWindowsKeyRecords) {
    for (const Case& c : Cases()) {
        KeyDecoder decoder;
        EXPECT_EQ(FeedAll(decoder, c.bytes), c.expected) << c.name;
    }
}

TEST(KeyDecoderTest, EveryPrintableCharacterIsOneKeyOfTheMainBlock) {
    for (int byte = 0x20; byte <= 0x7E; ++byte) {
        KeyDecoder decoder;
        const Recs got = FeedAll(decoder, std::string(1, static_cast<char>(byte)));
        // Two records, or four with Shift around; the key itself carries the character.
        ASSERT_TRUE(got.size() == 2 || got.size() == 4) << "byte " << byte;
        const Rec& key = got[got.size() / 2 - 1];
        EXPECT_EQ(key.ch, byte);
        EXPECT_NE(key.vk, 0) << "byte " << byte;
        EXPECT_NE(key.scan, 0) << "byte " << byte;
        EXPECT_EQ(got.size() == 4, (key.state & S) != 0) << "byte " << byte;
    }
}

TEST(KeyDecoderTest, HeldBytesAreTypedKeysAfterThePause) {
    const std::vector<Case> cases = {
        {"lone Esc", "\x1b", kEscKey},
        {"ESC [ is Alt+[", "\x1b[", Alt(0xDB, 0x1A, '[')},
        {"ESC O is Alt+Shift+O", "\x1bO",
         Cat({kShiftDown,
              {{1, 0x12, 0x38, 0, A | S}},
              Tap(0x4F, 0x18, 'O', A | S),
              {{0, 0x12, 0x38, 0, S}},
              kShiftUp})},
        {"Alt+[ then typed digits", "\x1b[1;",
         Cat({Alt(0xDB, 0x1A, '['), Tap(0x31, 0x02, '1', 0), Tap(0xBA, 0x27, ';', 0)})},
        {"cut-short UTF-8", "\xD0", Tap(0, 0, '?', 0)},
        {"Alt with cut-short UTF-8", "\x1b\xE2\x84", Alt(0, 0, '?')},
    };
    for (const Case& c : cases) {
        KeyDecoder decoder;
        EXPECT_EQ(FeedAll(decoder, c.bytes), Recs{}) << c.name << ": must wait for the pause";
        EXPECT_TRUE(decoder.HasPending()) << c.name;
        std::deque<InputRecord> out;
        decoder.Flush(out);
        EXPECT_EQ(ToRecs(out), c.expected) << c.name;
        EXPECT_FALSE(decoder.HasPending()) << c.name;
        // The decoder is clean afterwards: the next key is not taken as part of the old bytes.
        EXPECT_EQ(FeedAll(decoder, "a"), Tap(0x41, 0x1E, 'a', 0)) << c.name;
    }
}

TEST(KeyDecoderTest, SplitReadsDecodeAsTheWholeStream) {
    // Every table case back to back; then split at every pair of boundaries, as a slow line
    // or a small read buffer would deliver it.
    std::string stream;
    Recs expected;
    for (const Case& c : Cases()) {
        if (c.bytes == "\x1b\x1b") {
            continue;  // its held second ESC would join the next case
        }
        stream += c.bytes;
        expected.insert(expected.end(), c.expected.begin(), c.expected.end());
    }
    {
        KeyDecoder decoder;
        ASSERT_EQ(FeedAll(decoder, stream), expected);
        EXPECT_FALSE(decoder.HasPending());
    }
    {
        KeyDecoder decoder;
        Recs got;
        for (char byte : stream) {
            const Recs part = FeedAll(decoder, std::string(1, byte));
            got.insert(got.end(), part.begin(), part.end());
        }
        EXPECT_EQ(got, expected) << "fed byte by byte";
    }
    const std::string sample = "a\x1b[1;5AЖ\x1bOP\x1b[15;2~\x1bx\x1b[[B\x1b[3~";
    KeyDecoder whole;
    const Recs sampleExpected = FeedAll(whole, sample);
    for (size_t first = 0; first <= sample.size(); ++first) {
        for (size_t second = first; second <= sample.size(); ++second) {
            KeyDecoder decoder;
            Recs got = FeedAll(decoder, sample.substr(0, first));
            for (const Recs& part : {FeedAll(decoder, sample.substr(first, second - first)),
                                     FeedAll(decoder, sample.substr(second))}) {
                got.insert(got.end(), part.begin(), part.end());
            }
            ASSERT_EQ(got, sampleExpected) << "split at " << first << " and " << second;
        }
    }
}

TEST(KeyDecoderTest, CursorReportIsTakenOutFromAmongTypedKeys) {
    KeyDecoder decoder;
    int row = 0;
    int column = 0;
    EXPECT_FALSE(decoder.TakeCursorReport(row, column));
    decoder.ExpectCursorReport();
    // Keys typed ahead of the report and after it, the report itself split over two reads.
    Recs got = FeedAll(decoder, "ab\x1b[12;4");
    const Recs rest = FeedAll(decoder, "0Rc");
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(got,
              Cat({Tap(0x41, 0x1E, 'a', 0), Tap(0x42, 0x30, 'b', 0), Tap(0x43, 0x2E, 'c', 0)}));
    ASSERT_TRUE(decoder.TakeCursorReport(row, column));
    EXPECT_EQ(row, 12);
    EXPECT_EQ(column, 40);
    EXPECT_FALSE(decoder.TakeCursorReport(row, column)) << "a report is taken once";
    // The expectation is used up: the same bytes are Ctrl+F3 again.
    EXPECT_EQ(FeedAll(decoder, "\x1b[1;5R"), Ctrl(0x72, 0x3D, 0));

    // Expected, a report at row 1 is a report, not Shift+F3.
    decoder.ExpectCursorReport();
    EXPECT_EQ(FeedAll(decoder, "\x1b[1;2R"), Recs{});
    ASSERT_TRUE(decoder.TakeCursorReport(row, column));
    EXPECT_EQ(row, 1);
    EXPECT_EQ(column, 2);
}

// With no room for more records the bytes wait undecoded, yet an expected report among them is
// taken out at once; the keys around it come later, in order, when there is room.
TEST(KeyDecoderTest, BytesWithoutRoomWaitAndTheReportAmongThemIsTakenOut) {
    KeyDecoder decoder;
    decoder.ExpectCursorReport();
    std::deque<InputRecord> out;
    const std::string bytes = "ab\x1b[A\x1b[3;7Rc\x1b";  // the last ESC begins nothing yet
    decoder.Feed(bytes.data(), bytes.size(), out, 2);
    EXPECT_EQ(ToRecs(out), Tap(0x41, 0x1E, 'a', 0)) << "one key, its records whole";
    EXPECT_FALSE(decoder.HasPending()) << "no pause runs while the records are full";
    int row = 0;
    int column = 0;
    ASSERT_TRUE(decoder.TakeCursorReport(row, column));
    EXPECT_EQ(row, 3);
    EXPECT_EQ(column, 7);
    EXPECT_FALSE(decoder.ExpectingCursorReport());

    out.clear();
    decoder.Feed(nullptr, 0, out);
    EXPECT_EQ(ToRecs(out), Cat({Tap(0x42, 0x30, 'b', 0), Tap(0x26, 0x48, 0, kEnhancedKey),
                                Tap(0x43, 0x2E, 'c', 0)}));
    EXPECT_TRUE(decoder.HasPending()) << "the last ESC waits for the pause";
    out.clear();
    decoder.Flush(out);
    EXPECT_EQ(ToRecs(out), Tap(0x1B, 0x01, 0x1B, 0));

    // Just after an ESC or an unfinished sequence, taking the report out would change the keys: it
    // is left to be read in turn, and is still no key then.
    for (const std::string before : {"\x1b", "\x1b[", "\x1bO", "\xd0"}) {
        SCOPED_TRACE(before);
        KeyDecoder held;
        held.ExpectCursorReport();
        const std::string text = "a" + before + "\x1b[3;7Rc";
        std::deque<InputRecord> first;
        held.Feed(text.data(), text.size(), first, 1);
        EXPECT_FALSE(held.TakeCursorReport(row, column));
        std::deque<InputRecord> all;
        held.Feed(nullptr, 0, all);
        EXPECT_TRUE(held.TakeCursorReport(row, column));
        std::deque<InputRecord> whole;
        KeyDecoder reference;
        reference.ExpectCursorReport();
        reference.Feed(text.data() + 1, text.size() - 1, whole);
        EXPECT_EQ(ToRecs(all), ToRecs(whole));
    }
}

TEST(KeyDecoderTest, RunawaySequenceIsDroppedAndTypingResumes) {
    std::string runaway = "\x1b[";
    for (int i = 0; i < 40; ++i) {
        runaway += "1;";
    }
    {
        KeyDecoder decoder;
        EXPECT_EQ(FeedAll(decoder, runaway + "Ax"), Tap(0x58, 0x2D, 'x', 0))
            << "its tail and final byte are dropped with it";
        EXPECT_FALSE(decoder.HasPending());
    }
    {
        // It never ends: the pause stops the skipping, and the next key counts.
        KeyDecoder decoder;
        EXPECT_EQ(FeedAll(decoder, runaway), Recs{});
        EXPECT_TRUE(decoder.HasPending());
        std::deque<InputRecord> out;
        decoder.Flush(out);
        EXPECT_TRUE(out.empty());
        EXPECT_FALSE(decoder.HasPending());
        EXPECT_EQ(FeedAll(decoder, "x"), Tap(0x58, 0x2D, 'x', 0));
    }
    {
        // A run of digits in a parameter does not overflow into a known key.
        KeyDecoder decoder;
        EXPECT_EQ(FeedAll(decoder, "\x1b[99999999999999999999~x"), Tap(0x58, 0x2D, 'x', 0));
    }
}

}  // namespace
