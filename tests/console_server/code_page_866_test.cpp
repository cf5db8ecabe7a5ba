// Code page 866 against Unicode: every byte survives the trip out to UTF-8 and back, and the
// points people read on screen land where DOS put them.
#include "code_page_866.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace conproxy;

// Decodes one UTF-8 character; -1 if the text is not exactly one well-formed character.
long DecodeSingleUtf8(const std::string& text) {
    if (text.empty()) {
        return -1;
    }
    const auto lead = static_cast<unsigned char>(text[0]);
    size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || text.size() != length) {
        return -1;
    }
    long codePoint = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if ((byte & 0xC0) != 0x80) {
            return -1;
        }
        codePoint = (codePoint << 6) | (byte & 0x3F);
    }
    return codePoint;
}

TEST(CodePage866Test, EveryByteRoundTripsThroughUnicode) {
    for (int value = 0; value < 256; ++value) {
        const char byte = static_cast<char>(value);
        const std::string utf8 = Cp866ToUtf8(&byte, 1);
        const long codePoint = DecodeSingleUtf8(utf8);
        ASSERT_GE(codePoint, 0) << "byte " << value;
        if (value < 0x80) {
            EXPECT_EQ(codePoint, value) << "ASCII must pass unchanged";
        }
        EXPECT_EQ(UnicodeToCp866(static_cast<char32_t>(codePoint)), byte) << "byte " << value;
    }
}

TEST(CodePage866Test, KnownCharacters) {
    struct Case {
        unsigned char byte;
        const char* utf8;
    };
    const Case cases[] = {
        {0x80, "А"}, {0x9F, "Я"}, {0xA0, "а"}, {0xAF, "п"},      {0xE0, "р"}, {0xEF, "я"},
        {0xB0, "░"}, {0xC4, "─"}, {0xC9, "╔"}, {0xDB, "█"},      {0xF0, "Ё"}, {0xF1, "ё"},
        {0xF9, "∙"}, {0xFA, "·"}, {0xFC, "№"}, {0xFF, "\u00A0"},
    };
    for (const Case& c : cases) {
        const char byte = static_cast<char>(c.byte);
        EXPECT_EQ(Cp866ToUtf8(&byte, 1), c.utf8) << "byte " << int{c.byte};
    }
}

TEST(CodePage866Test, ConvertsWholeTextWithEmbeddedNul) {
    const std::string text("\x8F\xE0\xA8\xA2\xA5\xE2, 1\0!", 11);  // "Привет, 1\0!"
    EXPECT_EQ(Cp866ToUtf8(text.data(), text.size()), std::string("Привет, 1\0!", 17));
}

TEST(CodePage866Test, CharactersOutside866BecomeQuestionMark) {
    for (char32_t codePoint : {U'€', U'Ā', U'ґ', U'▁', U'\U0001F600', U'\U0010FFFF'}) {
        EXPECT_EQ(UnicodeToCp866(codePoint), '?')
            << "U+" << std::hex << static_cast<unsigned long>(codePoint);
    }
}

// What a Windows console in its default output mode shows: five control bytes act, every other
// one (ESC and DEL too) is a glyph, so a client's escape sequence is only text on the screen.
TEST(CodePage866Test, ScreenTextShowsControlBytesAsGlyphs) {
    const struct {
        std::string bytes;
        std::string shown;
    } cases[] = {
        {"\a\b\t\n\r", "\a\b\t\n\r"},
        {std::string(1, '\0'), " "},
        {"\x01\x02\x0b\x0c\x0e", "\u263A\u263B\u2642\u2640\u266B"},
        {"\x10\x18\x1a\x1f", "\u25BA\u2191\u2192\u25BC"},
        {"\x1b[31mX\x1b]0;t\x07", "\u2190[31mX\u2190]0;t\a"},
        {"\x7f", "\u2302"},
        {"\x8f\xe0\xa8\xa2\xa5\xe2 ok", "\u041F\u0440\u0438\u0432\u0435\u0442 ok"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Cp866ToScreen(c.bytes.data(), c.bytes.size()), c.shown) << c.shown;
    }
    for (int byte = 0; byte < 0x100; ++byte) {
        const char one = static_cast<char>(byte);
        const std::string shown = Cp866ToScreen(&one, 1);
        EXPECT_EQ(shown.find('\x1b'), std::string::npos) << byte;
    }
}

}  // namespace
