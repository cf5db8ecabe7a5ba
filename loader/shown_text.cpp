#include "shown_text.h"

#include <cctype>
#include <clocale>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace portboot {

namespace {

// The locale's name tells its character set on every C library; the C locale counts as UTF-8
// because the program's own texts are shown in UTF-8 there.
bool ConsoleTakesUtf8() {
    const char* name = std::setlocale(LC_CTYPE, nullptr);
    if (name == nullptr || std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0) {
        return true;
    }
    std::string lower;
    for (const char* p = name; *p != '\0'; ++p) {
        if (*p != '-') {
            lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(*p))));
        }
    }
    return lower.find("utf8") != std::string::npos;
}

// The length of the well-formed UTF-8 character at `at` (1 to 4), or 0 when it is ill-formed:
// a stray continuation byte, an overlong form, a surrogate, above U+10FFFF, or cut short.
std::size_t Utf8Length(const std::string& text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

void AppendEscaped(std::string& out, unsigned char byte) {
    char escaped[5];
    std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
    out += escaped;
}

}  // namespace

std::string ShownText(const std::string& bytes) {
    const bool utf8 = ConsoleTakesUtf8();
    std::string shown;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const unsigned char byte = static_cast<unsigned char>(bytes[at]);
        if (byte == '\\') {
            shown += "\\\\";
            ++at;
            continue;
        }
        if (byte >= 0x20 && byte < 0x7F) {
            shown.push_back(static_cast<char>(byte));
            ++at;
            continue;
        }
        const std::size_t length = utf8 && byte > 0x7F ? Utf8Length(bytes, at) : 0;
        // U+0080..U+009F are C2 80..C2 9F: the C1 controls in their UTF-8 form.
        const bool c1 =
            length == 2 && byte == 0xC2 && static_cast<unsigned char>(bytes[at + 1]) < 0xA0;
        if (length == 0 || c1) {
            AppendEscaped(shown, byte);
            ++at;
            continue;
        }
        shown.append(bytes, at, length);
        at += length;
    }
    return shown;
}

}  // namespace portboot
