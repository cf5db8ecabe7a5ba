// The library's text conversion (the user's UTF-8 <-> code page 866) and conclient's escaping of
// texts that are not its own, in a UTF-8 locale and in the C locale (read as UTF-8).
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "conclient_text.h"
#include "conproxy_text.h"

namespace {

class ConsoleText : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        if (std::setlocale(LC_CTYPE, GetParam()) == nullptr)
            GTEST_SKIP() << GetParam() << " is not installed";
    }
    void TearDown() override { std::setlocale(LC_CTYPE, "C"); }
};

TEST_P(ConsoleText, EveryByteOfTheCodePageGoesThereAndBack) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    std::string text, problem, back;
    ASSERT_TRUE(conclient::ConsoleToText(all, &text, &problem)) << problem;
    ASSERT_TRUE(conclient::TextToConsole(text, &back, &problem)) << problem;
    EXPECT_EQ(back, all);
    EXPECT_EQ(conclient::ConsoleCodePage(), 866u);

    std::string bytes;
    ASSERT_TRUE(conclient::TextToConsole("Привет, мир °√№", &bytes, &problem)) << problem;
    EXPECT_EQ(bytes, "\x8f\xe0\xa8\xa2\xa5\xe2, \xac\xa8\xe0 \xf8\xfb\xfc");
}

// A character 866 lacks is named; bytes that are no UTF-8 are named by their first byte, never
// taken for a character (F4 90 80 80 would be U+110000), and never quoted raw into the problem.
TEST_P(ConsoleText, RefusalsNameTheCharacterOrTheByte) {
    const struct {
        const char* text;
        const char* problem;
        const char* before;  // the bytes converted before the refusal
    } cases[] = {
        {"ab€", "\"€\" (U+20AC) is not in code page 866", "ab"},
        {"a\xc2\x9b", "(U+009B) is not in code page 866", "a"},
        {"\xf4\x90\x80\x80", "byte 0xf4 is no text in this locale", ""},
        {"x\xc0\x80", "byte 0xc0 is no text in this locale", "x"},    // overlong NUL
        {"\xed\xa0\x80", "byte 0xed is no text in this locale", ""},  // a surrogate
        {"\xd0", "byte 0xd0 is no text in this locale", ""},          // cut short
        {"\x9b[2J", "byte 0x9b is no text in this locale", ""},       // a lone C1 byte
        {"\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\" (U+1F600) is not in code page 866", ""},
    };
    for (const auto& c : cases) {
        std::string bytes, problem;
        EXPECT_FALSE(conclient::TextToConsole(c.text, &bytes, &problem)) << c.text;
        EXPECT_EQ(problem.rfind(c.problem, 0), 0u) << problem;
        EXPECT_EQ(bytes, c.before) << c.problem;
    }
}

// What conclient prints and did not write itself cannot drive the terminal: C0, DEL, C1 (as a
// lone byte or as U+0080..U+009F) and bytes that are no UTF-8 become \xhh; text stays text.
TEST_P(ConsoleText, TextsNotOursAreShownEscaped) {
    const struct {
        const char* text;
        const char* shown;
    } cases[] = {
        {"frobnicate Привет", "frobnicate Привет"},
        {"a\x1b[2J\x1b]2;t\x07", "a\\x1b[2J\\x1b]2;t\\x07"},
        {"\x9b"
         "2J",
         "\\x9b2J"},
        {"\xc2\x9b"
         "2J \xc2\x85",
         "\\xc2\\x9b2J \\xc2\\x85"},
        {"\xf4\x90\x80\x80!", "\\xf4\\x90\\x80\\x80!"},
        {"del\x7f", "del\\x7f"},
        {"C:\\dir\\a b", "C:\\dir\\a b"},
    };
    for (const auto& c : cases) EXPECT_EQ(conclient_text::Shown(c.text), c.shown) << c.text;

    // Answers from the console: its text as text, control bytes and quotes escaped.
    EXPECT_EQ(conclient_text::ShownConsoleText("\xa0\xa1\xa2\r\n\"\\\x1b\x7f\xff"),
              "абв\\r\\n\\\"\\\\\\x1b\\x7f\xc2\xa0");
}

INSTANTIATE_TEST_SUITE_P(Locales, ConsoleText, ::testing::Values("C.UTF-8", "C"));

}  // namespace
