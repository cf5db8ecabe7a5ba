// Text that is not the loader's own, as it reaches the terminal: nothing in it can drive the
// terminal, and what is plain text (Cyrillic included) stays as it is. The tests run in the C
// locale, where the loader's texts, and so these, are UTF-8.
#include <gtest/gtest.h>

#include <string>

#include "shown_text.h"

namespace {

using portboot::ShownText;

TEST(ShownTextTest, ControlsAndIllFormedBytesAreEscaped) {
    struct Case {
        const char* name;
        std::string bytes;
        std::string shown;
    };
    const Case cases[] = {
        {"plain", "ttyUSB0 minicom", "ttyUSB0 minicom"},
        {"Cyrillic", "Порт", "Порт"},
        {"four-byte UTF-8", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
        {"C0 and DEL", std::string("\x1B[2J\x07\x00\x7F", 7), "\\x1B[2J\\x07\\x00\\x7F"},
        {"line feed and tab", "a\nb\tc", "a\\x0Ab\\x09c"},
        {"C1 as a byte",
         "\x9B"
         "31m",
         "\\x9B31m"},
        {"C1 in UTF-8",
         "\xC2\x9B"
         "31m\xC2\x85",
         "\\xC2\\x9B31m\\xC2\\x85"},
        {"first after C1 kept", "\xC2\xA0", "\xC2\xA0"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},
        {"overlong", "\xC0\xAF\xE0\x80\xAF", "\\xC0\\xAF\\xE0\\x80\\xAF"},
        {"surrogate", "\xED\xA0\x80", "\\xED\\xA0\\x80"},
        {"cut short", "\xD0", "\\xD0"},
        {"backslash doubled", "\\x1B", "\\\\x1B"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ShownText(c.bytes), c.shown) << c.name;
    }
}

}  // namespace
