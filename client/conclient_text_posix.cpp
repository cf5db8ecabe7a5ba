// Linux: script text and answers in the locale's encoding (UTF-8 as a rule), through the C
// library's multibyte functions; code page 866 through a table of our own.
#include <langinfo.h>
#include <unistd.h>

#include <climits>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "conclient_text.h"

namespace conclient_text {
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
    if (c < 0x80) {
        return static_cast<int>(c);
    }
    for (int i = 0; i < 128; ++i) {
        if (kHighHalf[i] == c) {
            return 0x80 + i;
        }
    }
    return -1;
}

std::string CodePoint(char32_t c) {
    char text[16];
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(c));
    return text;
}

}  // namespace

void UseLocale() {
    std::setlocale(LC_CTYPE, "");
    // The C locale names no encoding of people's text (it is ASCII): read it as UTF-8, of which
    // ASCII is a part, as terminals and editors write it today.
    if (std::strcmp(nl_langinfo(CODESET), "ANSI_X3.4-1968") == 0) {
        std::setlocale(LC_CTYPE, "C.UTF-8");
    }
}

bool To866(const std::string& text, std::string* bytes, std::string* problem) {
    std::mbstate_t state{};
    size_t at = 0;
    while (at < text.size()) {
        wchar_t wide = 0;
        const size_t used = std::mbrtowc(&wide, text.data() + at, text.size() - at, &state);
        if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2)) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%02x", static_cast<unsigned char>(text[at]));
            *problem = std::string("byte ") + hex + " is no text in this locale (" +
                       nl_langinfo(CODESET) + ")";
            return false;
        }
        const size_t length = used == 0 ? 1 : used;  // a NUL byte is one character
        const int byte = ByteOf(static_cast<char32_t>(wide));
        if (byte < 0) {
            *problem = "\"" + text.substr(at, length) + "\" (" +
                       CodePoint(static_cast<char32_t>(wide)) + ") is not in code page 866";
            return false;
        }
        bytes->push_back(static_cast<char>(byte));
        at += length;
    }
    return true;
}

std::string Shown866(unsigned char byte) {
    if (byte < 0x80) {
        return std::string(1, static_cast<char>(byte));
    }
    char text[MB_LEN_MAX];
    std::mbstate_t state{};
    const size_t n = std::wcrtomb(text, static_cast<wchar_t>(kHighHalf[byte - 0x80]), &state);
    return n == static_cast<size_t>(-1) ? std::string() : std::string(text, n);
}

bool StdinIsTerminal() {
    return isatty(STDIN_FILENO) == 1;
}

}  // namespace conclient_text
