// Linux: the user's text in the locale's encoding, the console's in code page 866 through a
// table of our own (conproxy turns 866 into its terminal's text). UTF-8, and the C locale read
// as UTF-8, go through our strict reader; other locales through the C library's multibyte calls.
#include <langinfo.h>

#include <climits>
#include <cstring>
#include <cwchar>

#include "conproxy_text.h"
#include "conproxy_text_utf8.h"

namespace conclient {
namespace {

// Unicode of code page 866's bytes 0x80..0xFF; 0x00..0x7F are ASCII.
constexpr char32_t kHighHalf[128] = {
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // 80
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,  // 88
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  // 90
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,  // 98
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // A0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,  // A8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  // B0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,  // B8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,  // C8
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  // D0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,  // D8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  // E0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,  // E8
    0x0401, 0x0451, 0x0404, 0x0454, 0x0407, 0x0457, 0x040E, 0x045E,  // F0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116, 0x00A4, 0x25A0, 0x00A0,  // F8
};

// The code page 866 byte of a character, or -1 when 866 has none.
int ByteOf(char32_t c) {
    if (c < 0x80)
        return static_cast<int>(c);
    for (int i = 0; i < 128; ++i) {
        if (kHighHalf[i] == c)
            return 0x80 + i;
    }
    return -1;
}

char32_t CharacterOf(unsigned char byte) {
    return byte < 0x80 ? byte : kHighHalf[byte - 0x80];
}

// UTF-8 itself, or the C locale (ASCII, which UTF-8 contains): our own reader and writer.
bool LocaleIsUtf8() {
    const char* codeset = nl_langinfo(CODESET);
    return std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "ANSI_X3.4-1968") == 0;
}

// One character of the user's text at text[at]: its length, or 0 where the bytes are no text.
size_t DecodeUser(const std::string& text, size_t at, char32_t* c) {
    if (LocaleIsUtf8())
        return utf8::Decode(text, at, c);
    std::mbstate_t state{};
    wchar_t wide = 0;
    const size_t used = std::mbrtowc(&wide, text.data() + at, text.size() - at, &state);
    if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2))
        return 0;
    *c = static_cast<char32_t>(wide);
    return used == 0 ? 1 : used;  // a NUL byte is one character
}

// `c` appended in the user's encoding; false where the locale has no such character.
bool EncodeUser(char32_t c, std::string* text) {
    if (LocaleIsUtf8()) {
        utf8::Append(c, text);
        return true;
    }
    char bytes[MB_LEN_MAX];
    std::mbstate_t state{};
    const size_t n = std::wcrtomb(bytes, static_cast<wchar_t>(c), &state);
    if (n == static_cast<size_t>(-1))
        return false;
    text->append(bytes, n);
    return true;
}

}  // namespace

unsigned ConsoleCodePage() {
    return 866;
}

bool TextToConsole(const std::string& text, std::string* bytes, std::string* problem) {
    size_t at = 0;
    while (at < text.size()) {
        char32_t c = 0;
        const size_t length = DecodeUser(text, at, &c);
        if (length == 0) {
            *problem = utf8::ByteName(static_cast<unsigned char>(text[at])) +
                       " is no text in this locale (" + nl_langinfo(CODESET) + ")";
            return false;
        }
        const int byte = ByteOf(c);
        if (byte < 0) {
            const std::string shown =
                utf8::Printable(c) ? "\"" + text.substr(at, length) + "\" " : std::string();
            *problem = shown + "(" + utf8::CodePointName(c) + ") is not in code page 866";
            return false;
        }
        bytes->push_back(static_cast<char>(byte));
        at += length;
    }
    return true;
}

bool ConsoleToText(const std::string& bytes, std::string* text, std::string* problem) {
    for (const char b : bytes) {
        const char32_t c = CharacterOf(static_cast<unsigned char>(b));
        if (!EncodeUser(c, text)) {
            *problem = utf8::ByteName(static_cast<unsigned char>(b)) + " (" +
                       utf8::CodePointName(c) + ") cannot be shown in this locale (" +
                       nl_langinfo(CODESET) + ")";
            return false;
        }
    }
    return true;
}

}  // namespace conclient
