// One console, two platforms: the same scripted sessions (requests, and keys typed into the
// terminal as a VT terminal sends them) run against the Linux conproxy and against CONPROXY.EXE
// under Wine, and the bytes each reply leaves in the region (records, text, result, status) must
// be the same, as must the screen the terminal shows at the end.
//
// Where Wine's console visibly departs from the Windows console, the Linux server keeps the
// Windows behaviour and the step names the departure; the bits it concerns are then left out of
// the comparison on both sides (docs/windows-differences.md lists each).
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e_console_pair.h"

namespace {

using e2e::ConsolePair;
using e2e::Platform;

constexpr int kSettleMs = 300;         // for the rest of a key's records to reach the console
constexpr int kMaxRecordsPerKey = 16;  // more than any key gives: a runaway drain stops here

// Wine's console leaves ENHANCED_KEY (0x100) off the keys of the cursor and editing blocks, which
// Windows sets on them.
constexpr uint32_t kEnhancedKey = 0x100;
// Byte 17 of a key record holds bit 8 of dwControlKeyState.
constexpr size_t kStateBit8Byte = 17;
constexpr size_t kInputRecordHexDigits = 40;
constexpr size_t kUndefinedRecordBytes[] = {2, 3, 15};

struct Step {
    enum Kind {
        kRequest,  // one request, its answer recorded
        kKeys,     // type the bytes, then read every record they gave (peek before each read)
        kLine,     // a readtext request first, then the bytes typed; the answer recorded
        kScreen,   // the terminal's text and cursor recorded
    };
    Kind kind = kRequest;
    std::string text;          // request line, or typed bytes
    std::string label;         // what the step shows, for the report
    unsigned count = 0;        // kLine: the count of the readtext
    bool enhancedKey = false;  // compared without ENHANCED_KEY: see kEnhancedKey
    std::string thenTyped;     // kLine: typed after a pause (so an Esc before it stays alone)
    // Where Wine departs from Windows: the Windows answer, which the Linux server must give;
    // Wine's answer is not compared.
    std::string windowsAnswer;
};

Step MakeStep(Step::Kind kind, const std::string& text, const std::string& label) {
    Step step;
    step.kind = kind;
    step.text = text;
    step.label = label;
    return step;
}
Step Request(const std::string& line) {
    return MakeStep(Step::kRequest, line, line);
}
Step Keys(const std::string& bytes, const std::string& label) {
    return MakeStep(Step::kKeys, bytes, "keys " + label);
}
// A key of the cursor or editing block: Windows marks it ENHANCED_KEY, Wine does not.
Step GrayKeys(const std::string& bytes, const std::string& label) {
    Step step = Keys(bytes, label);
    step.enhancedKey = true;
    return step;
}
Step Line(unsigned count, const std::string& bytes, const std::string& label) {
    Step step =
        MakeStep(Step::kLine, bytes, "readtext " + std::to_string(count) + " typing " + label);
    step.count = count;
    return step;
}
// Wine keeps Esc in the line as a character; the Windows console clears the line on it.
Step LineWithEsc(unsigned count, const std::string& before, const std::string& after,
                 const std::string& label, const std::string& windowsAnswer) {
    Step step = Line(count, before, label);
    step.thenTyped = after;
    step.windowsAnswer = windowsAnswer;
    return step;
}
Step Screen() {
    return MakeStep(Step::kScreen, "", "screen");
}
// Wine's console hands control bytes to the terminal as they are; the Windows console shows
// them as glyphs.
Step ScreenAsWindowsShowsIt(const std::string& windowsScreen) {
    Step step = Screen();
    step.windowsAnswer = windowsScreen;
    return step;
}

// The screen after every control byte 0x00-0x1F and DEL written at the top left of a clear
// screen, as a Windows console in its default output mode shows it: NUL a blank, glyphs from
// 0x01 on; BEL sounds, BS steps back over the spade, HT goes to column 8, LF starts row 1, and
// after two glyphs there CR brings the rest back over them.
std::string ControlBytesOnWindows() {
    std::string screen = " \u263A\u263B\u2665\u2666\u2663\u2660\n";
    screen +=
        "\u266B\u263C\u25BA\u25C4\u2195\u203C\u00B6\u00A7\u25AC\u21A8\u2191\u2193\u2192"
        "\u2190\u221F\u2194\u25B2\u25BC\u2302";
    screen += std::string(e2e::kScreenRows - 2, '\n');
    return screen + "\n[cursor 19,1]";
}

struct Session {
    const char* name;
    std::vector<Step> steps;
};

// Replaces two hex digits of a record's bytes.
void SetHexByte(std::string& answer, size_t digits, unsigned value) {
    const char* const kHex = "0123456789abcdef";
    answer[digits] = kHex[(value >> 4) & 0xF];
    answer[digits + 1] = kHex[value & 0xF];
}

// The answer as the comparison sees it. In every input record the bytes that carry nothing in
// the 8-bit form are blanked: 2 and 3 (padding after EventType) and 15 (the unused half of the
// uChar union): Wine leaves whatever its own buffer held there (the high byte of the character's
// UTF-16 code among it), the Linux server zeros. With enhancedKey, ENHANCED_KEY is cleared in
// the printed state and in the record's bytes.
std::string Comparable(std::string answer, bool enhancedKey) {
    // A readtext answer's text is each conclient's own presentation (the locale's text on Linux,
    // escapes on Windows); the bytes the server left are in the dump beside it.
    const size_t dumpAt = answer.find(" | dump ");
    const size_t textAt = answer.find(" text=\"");
    if (answer.rfind("readtext ", 0) == 0 && textAt != std::string::npos &&
        dumpAt != std::string::npos && textAt < dumpAt) {
        answer.erase(textAt, dumpAt - textAt);
    }
    for (size_t at = 0; enhancedKey && (at = answer.find("state=0x", at)) != std::string::npos;) {
        at += 8;
        const size_t end = answer.find_first_not_of("0123456789abcdef", at);
        const unsigned long state = std::stoul(answer.substr(at, end - at), nullptr, 16);
        std::ostringstream hex;
        hex << std::hex << (state & ~static_cast<unsigned long>(kEnhancedKey));
        answer.replace(at, end - at, hex.str());
    }
    for (size_t at = 0; (at = answer.find("data=", at)) != std::string::npos;) {
        at += 5;
        size_t end = answer.find_first_not_of("0123456789abcdef", at);
        if (end == std::string::npos)
            end = answer.size();
        // Records only: a readtext answer of the same length is text.
        const size_t text = answer.rfind("readtext ", at);
        const size_t peek = answer.rfind("peek ", at);
        const size_t read = answer.rfind("read ", at);
        const bool isText = text != std::string::npos &&
                            (peek == std::string::npos || text > peek) &&
                            (read == std::string::npos || text > read);
        if (end - at != kInputRecordHexDigits || isText)
            continue;
        for (size_t byte : kUndefinedRecordBytes) SetHexByte(answer, at + 2 * byte, 0);
        if (enhancedKey) {
            const size_t digits = at + 2 * kStateBit8Byte;
            SetHexByte(answer, digits, std::stoul(answer.substr(digits, 2), nullptr, 16) & ~1u);
        }
    }
    return answer;
}

// What one platform answered to each step, lines joined.
std::vector<std::string> RunSession(Platform platform, const e2e::WineSetup& wine,
                                    const Session& session) {
    std::vector<std::string> transcript;
    ConsolePair pair(platform, wine);
    if (!pair.Ready())
        return {"<not ready>"};
    auto join = [](const std::vector<std::string>& lines) {
        std::string all;
        for (const auto& l : lines) all += (all.empty() ? "" : " | ") + l;
        return lines.empty() ? std::string("<no answer>") : all;
    };
    for (const Step& step : session.steps) {
        std::string answer;
        switch (step.kind) {
            case Step::kRequest:
                answer = join(pair.Request(step.text));
                break;
            case Step::kKeys: {
                pair.Send("read");
                pair.Type(step.text);
                answer = join(pair.Answer());
                std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
                for (int i = 0; i < kMaxRecordsPerKey; ++i) {
                    const std::vector<std::string> peek = pair.Request("peek");
                    answer += " || " + join(peek);
                    if (peek.empty() || peek.front() == "peek result=0")
                        break;
                    answer += " || " + join(pair.Request("read"));
                }
                break;
            }
            case Step::kLine:
                pair.Send("readtext " + std::to_string(step.count));
                pair.Type(step.text);
                if (!step.thenTyped.empty()) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
                    pair.Type(step.thenTyped);
                }
                answer = join(pair.Answer());
                break;
            case Step::kScreen: {
                // The screen settles once the terminal has had the last output for a while.
                size_t before = 0;
                e2e::WaitUntil([&] {
                    size_t now = pair.Terminal().BytesReceived();
                    bool still = now == before;
                    before = now;
                    std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs / 3));
                    return still;
                });
                int row = 0, col = 0;
                pair.Terminal().Cursor(&row, &col);
                answer = pair.Terminal().ScreenText() + "\n[cursor " + std::to_string(col) + "," +
                         std::to_string(row) + "]";
                break;
            }
        }
        transcript.push_back(Comparable(answer, step.enhancedKey));
    }
    pair.Request("exit");
    transcript.push_back("server exit " + std::to_string(pair.ServerExitStatus()));
    return transcript;
}

// gtest names a session by its name rather than by its bytes.
void PrintTo(const Session& session, std::ostream* out) {
    *out << session.name;
}

class OneConsoleTwoPlatforms : public ::testing::TestWithParam<Session> {};

TEST_P(OneConsoleTwoPlatforms, RepliesLeaveTheSameBytes) {
    const Session& session = GetParam();
    const e2e::WineSetup wine = e2e::WineSetupFromBuild();
    const std::vector<std::string> onLinux = RunSession(Platform::kLinux, wine, session);
    const std::vector<std::string> underWine = RunSession(Platform::kWine, wine, session);
    ASSERT_EQ(onLinux.size(), underWine.size());
    for (size_t i = 0; i < onLinux.size(); ++i) {
        const Step* step = i < session.steps.size() ? &session.steps[i] : nullptr;
        const std::string label = step != nullptr ? step->label : std::string("exit");
        if (step != nullptr && !step->windowsAnswer.empty()) {
            const std::string windows = Comparable(step->windowsAnswer, step->enhancedKey);
            EXPECT_EQ(onLinux[i], windows) << "step " << i << ": " << label;
            EXPECT_NE(underWine[i], windows)
                << "step " << i << ": " << label << ": Wine now gives the Windows answer";
            continue;
        }
        EXPECT_EQ(onLinux[i], underWine[i]) << "step " << i << ": " << label;
    }
}

// Text that ends in the last column: the cursor goes on to the next line's start at once (at the
// bottom the screen scrolls), and what comes next starts there, a line feed included.
const Session kMarginSessions[] = {
    {"RightMargin",
     {
         Request("clear"),
         Request("cursor 0 3"),
         Request("write " + std::string(80, 'a')),
         Request("info"),
         Request("writehex 0d 0a 62"),  // CR LF "b": a blank line between
         Request("info"),
         Request("cursor 70 8"),
         Request("write " + std::string(90, 'c')),  // across one margin, onto the next
         Request("info"),
         Request("write " + std::string(70, 'd')),  // ends in the last column again
         Request("info"),
         Request("writehex 08 65"),  // Backspace, then "e" over the last "d"
         Request("info"),
         Request("cursor 70 12"),
         Line(20, "0123456789\r", "ten characters up to the margin"),  // the echo fills the row
         Request("info"),
         Request("cursor 76 18"),
         Request("writehex 09 41"),  // a tab from column 76: on to the next row, "A" there
         Request("info"),
         Request("cursor 0 20"),
         Request("writehex 08 42"),  // Backspace at a row's start stays there
         Request("info"),
         Request("cursor 0 24"),
         Request("write " + std::string(80, 'f')),  // the last row: the screen scrolls
         Request("info"),
         Request("write g"),
         Request("info"),
         Screen(),
     }},
};

INSTANTIATE_TEST_SUITE_P(Margins, OneConsoleTwoPlatforms, ::testing::ValuesIn(kMarginSessions),
                         [](const ::testing::TestParamInfo<Session>& param) {
                             return std::string(param.param.name);
                         });

const Session kSessions[] = {
    {"Screen",
     {
         Request("clear"),
         Request("info"),
         Request("cursor 5 3"),
         Request("write Hello"),
         Request("info"),
         Request("writehex 0d 0a 6c 69 6e 65 09 54 61 62"),  // CR LF "line" Tab "Tab"
         Request("info"),
         Request("writehex 41 08 42"),  // Backspace: B over A
         Request("info"),
         Request("cursor 0 10"),
         Request("writehex 8F E0 A8 A2 A5 E2"),  // "Привет" in code page 866
         Request("info"),
         Request("cursor 75 12"),
         Request("write 0123456789"),  // wraps at the right edge
         Request("info"),
         Request("cursor 100 3"),  // outside: the cursor stays
         Request("info"),
         Request("cursor -1 0"),
         Request("info"),
         Request("cursor 0 25"),
         Request("info"),
         Request("cursor 0 0"),
         Request("raw 11 64 0"),  // unknown: the error line, set apart on a line of its own
         Request("raw 0 64 0"),
         Request("info"),  // the cursor where the two lines left it
         Request("nop"),
         Request("nop10"),
         Screen(),
     }},
    {"ScrollAtTheBottom",
     {
         Request("clear"),
         Request("write top"),
         Request("cursor 76 24"),
         Request("write abcdef"),  // past the last cell: the screen scrolls
         Request("info"),
         Request("writehex 0d 0a 6e 65 78 74"),  // CR LF "next" on the last row
         Request("info"),
         Screen(),
     }},
    {"ControlBytes",
     {
         Request("clear"),
         Request("writehex 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10 11 12 13 14 15 16 "
                 "17 18 19 1a 1b 1c 1d 1e 1f 7f"),
         ScreenAsWindowsShowsIt(ControlBytesOnWindows()),
     }},
    {"Keys",
     {
         Request("peek"),
         Keys("a", "a"),
         Keys("z", "z"),
         Keys("A", "Shift+A"),
         Keys("1", "1"),
         Keys("!", "Shift+1"),
         Keys(" ", "Space"),
         Keys("[", "["),
         Keys("\r", "Enter"),
         Keys("\x7f", "Backspace"),
         Keys("\t", "Tab"),
         GrayKeys("\x1b[A", "Up"),
         GrayKeys("\x1b[B", "Down"),
         GrayKeys("\x1b[C", "Right"),
         GrayKeys("\x1b[D", "Left"),
         GrayKeys("\x1b[H", "Home"),
         GrayKeys("\x1b[3~", "Delete"),
         GrayKeys("\x1b[1;2A", "Shift+Up"),
         GrayKeys("\x1b[1;5C", "Ctrl+Right"),
         Keys("\x1bOP", "F1"),
         Keys("\x1b[15~", "F5"),
         Keys("\x1b[24~", "F12"),
         Keys("\x01", "Ctrl+A"),
         Keys("\x1bx", "Alt+x"),
         Keys("\x1bX", "Alt+Shift+X"),
         Keys("\x1b\x01", "Ctrl+Alt+A"),
         Keys("\x1e", "Ctrl+Shift+6"),
         GrayKeys("\x1b[1;6A", "Ctrl+Shift+Up"),
         GrayKeys("\x1b[1;3B", "Alt+Down"),
         Keys("\x1b[1;2P", "Shift+F1"),
         Keys("\xd0\xb6", "Cyrillic zhe"),
     }},
    {"Lines",
     {
         Line(10, "abc\r", "abc Enter"),
         Line(10,
              "abx\x7f"
              "c\r",
              "abx Backspace c Enter"),
         Line(4, "hello world\r", "a line longer than count"),
         Request("readtext 4"),
         Request("readtext 4"),
         Request("readtext 4"),
         Line(10, "Ab1!\r", "shifted letters and digits"),
         Line(10, "\xd0\xb6\xd0\xb0\r", "Cyrillic"),
         Line(10, "\r", "Enter alone"),
         Line(10,
              "a\x01"
              "b\x02"
              "c\r",
              "Ctrl+A and Ctrl+B inside"),
         Line(10, "ab\x1b[Dc\r", "Left then a letter"),
         Line(10, "abc\x1b[H\x1b[3~\r", "Home then Delete"),
         Line(10,
              "x\x1bOP"
              "y\r",
              "F1 inside"),
         Line(10,
              "q\x1bz"
              "w\r",
              "Alt+z inside"),
         Line(10, "\x1b[A\r", "Up: the last line again"),
         Line(10, "\x1b[A\x1b[A\x1b[B!\r", "Up, Up, Down"),
         Screen(),
         // Wine echoes a tab as ^I, the Windows console moves to the next tab stop as we do:
         // only the bytes read are compared.
         Line(10, "b\tc\r", "Tab inside"),
         LineWithEsc(10, "abc\x1b", "d\r", "abc Esc d Enter",
                     "readtext result=3 text=\"d\\r\\n\" | dump status=0 result=3 data=640d0a"),
     }},
};

INSTANTIATE_TEST_SUITE_P(Sessions, OneConsoleTwoPlatforms, ::testing::ValuesIn(kSessions),
                         [](const ::testing::TestParamInfo<Session>& param) {
                             return std::string(param.param.name);
                         });

}  // namespace

namespace {

// Ctrl+C (and Ctrl+\, the terminal's stand-in for Ctrl+Break) while a read waits for keys: a
// Windows console in its default input mode takes it as the control event whose default handler
// ends the process, and queues no key record. The Linux server ends by SIGINT (SIGQUIT) after
// restoring the terminal; CONPROXY.EXE under Wine ends with status 0 for both (Windows:
// STATUS_CONTROL_C_EXIT). Either way the read is never answered with a key.
TEST(CtrlCOnTheConsole, EndsTheServerAndIsNoKey) {
    const e2e::WineSetup wine = e2e::WineSetupFromBuild();
    const struct {
        const char* key;
        int linuxSignal;
    } cases[] = {{"\x03", SIGINT}, {"\x1c", SIGQUIT}};
    for (const auto& c : cases) {
        for (Platform platform : {Platform::kLinux, Platform::kWine}) {
            const std::string what =
                std::string(e2e::PlatformName(platform)) + " " + std::to_string(c.linuxSignal);
            ConsolePair pair(platform, wine);
            ASSERT_TRUE(pair.Ready()) << what;
            pair.Send("read");
            pair.Type(c.key);
            const test_support::ExitInfo end = pair.ServerEnd();
            if (platform == Platform::kLinux) {
                EXPECT_EQ(end.signal, c.linuxSignal) << what << ": " << test_support::Describe(end);
            } else {
                EXPECT_TRUE(end.exited) << what << ": " << test_support::Describe(end);
                EXPECT_EQ(end.exitStatus, 0) << what << ": Wine now ends as Windows does";
            }
            const std::vector<std::string> answer = pair.Answer(kSettleMs);
            EXPECT_TRUE(answer.empty() || answer.front().rfind("read result=1", 0) != 0)
                << what << ": " << answer.front();
        }
    }
}

}  // namespace
