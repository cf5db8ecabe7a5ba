#include "conproxy_text_utf8.h"

#include <cstdio>

namespace conclient {
namespace utf8 {

size_t Decode(const std::string& text, size_t at, char32_t* c) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char first = byte(0);
    size_t length = 0;
    char32_t value = 0;
    char32_t least = 0;  // the smallest value of this length: below it the form is overlong
    if (first < 0x80) {
        *c = first;
        return 1;
    } else if (first >= 0xC2 && first <= 0xDF) {
        length = 2, value = first & 0x1Fu, least = 0x80;
    } else if (first >= 0xE0 && first <= 0xEF) {
        length = 3, value = first & 0x0Fu, least = 0x800;
    } else if (first >= 0xF0 && first <= 0xF4) {
        length = 4, value = first & 0x07u, least = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - at < length)
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0u) != 0x80)
            return 0;
        value = (value << 6) | (byte(i) & 0x3Fu);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *c = value;
    return length;
}

void Append(char32_t c, std::string* out) {
    if (c < 0x80) {
        out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (c >> 6)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (c >> 12)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (c >> 18)));
        out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

bool Printable(char32_t c) {
    return c >= 0x20 && c != 0x7F && !(c >= 0x80 && c < 0xA0);
}

std::string CodePointName(char32_t c) {
    char name[16];
    std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(c));
    return name;
}

std::string ByteName(unsigned char byte) {
    char name[16];
    std::snprintf(name, sizeof name, "byte 0x%02x", byte);
    return name;
}

}  // namespace utf8
}  // namespace conclient
