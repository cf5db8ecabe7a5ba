// UTF-8 read strictly, as both ends read the text that crosses between them (names, the user's
// text on its way to code page 866): the C library's decoder takes some byte runs that are no
// UTF-8 (F4 90 80 80 as U+110000), and a refusal or an escape must start at the first wrong byte.
#pragma once

#include <cstddef>
#include <string>

namespace conproxy_protocol {

// The character at text[at] into c; its length in bytes, or 0 where the bytes there are no
// UTF-8 (a stray continuation byte, an overlong form, a surrogate, above U+10FFFF, cut short).
inline std::size_t DecodeUtf8(const std::string& text, std::size_t at, char32_t& c) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char first = byte(0);
    std::size_t length = 0;
    char32_t value = 0;
    char32_t least = 0;  // the smallest value of this length: below it the form is overlong
    if (first < 0x80) {
        c = first;
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
    if (text.size() - at < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0u) != 0x80) {
            return 0;
        }
        value = (value << 6) | (byte(i) & 0x3Fu);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    c = value;
    return length;
}

}  // namespace conproxy_protocol
