#include "conclient_text.h"

#include <cstdio>

#include "conproxy_text.h"
#include "conproxy_text_utf8.h"

namespace conclient_text {
namespace {

void AppendHex(unsigned char byte, std::string* out) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02x", byte);
    *out += hex;
}

// `text` is exactly one printable character of the user's text.
bool OnePrintableCharacter(const std::string& text) {
    char32_t c = 0;
    return !text.empty() && UserCharacter(text, 0, &c) == text.size() &&
           conclient::utf8::Printable(c);
}

}  // namespace

std::string ShownConsoleText(const std::string& bytes) {
    std::string out;
    for (const char b : bytes) {
        const auto byte = static_cast<unsigned char>(b);
        std::string text, problem;
        if (byte == '\r') {
            out += "\\r";
        } else if (byte == '\n') {
            out += "\\n";
        } else if (byte == '\\' || byte == '"') {
            out += '\\';
            out += b;
        } else if (conclient::ConsoleToText(std::string(1, b), &text, &problem) &&
                   OnePrintableCharacter(text)) {
            out += text;
        } else {
            AppendHex(byte, &out);
        }
    }
    return out;
}

std::string Shown(const std::string& text) {
    std::string out;
    size_t at = 0;
    while (at < text.size()) {
        char32_t c = 0;
        const size_t length = UserCharacter(text, at, &c);
        if (length == 0) {
            AppendHex(static_cast<unsigned char>(text[at]), &out);
            ++at;
            continue;
        }
        if (conclient::utf8::Printable(c)) {
            out.append(text, at, length);
        } else {
            for (size_t i = 0; i < length; ++i)
                AppendHex(static_cast<unsigned char>(text[at + i]), &out);
        }
        at += length;
    }
    return out;
}

}  // namespace conclient_text
