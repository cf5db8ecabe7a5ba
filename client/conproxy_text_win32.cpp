// Windows: the user's text in UTF-8 (read by our strict reader), the console's in the code page
// of the console conproxy serves, converted one character at a time by the system's tables so
// that a refusal names the character; no best-fit replacement ('?', 'a' for 'á') is accepted.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0501
#endif
#include <windows.h>

#include "conproxy_text.h"
#include "conproxy_text_utf8.h"

namespace conclient {
namespace {

// `c` as UTF-16 code units; their count.
int Utf16Of(char32_t c, wchar_t units[2]) {
    if (c < 0x10000) {
        units[0] = static_cast<wchar_t>(c);
        return 1;
    }
    c -= 0x10000;
    units[0] = static_cast<wchar_t>(0xD800 + (c >> 10));
    units[1] = static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
    return 2;
}

}  // namespace

size_t DecodeUserCharacter(const std::string& text, size_t at, char32_t* c) {
    return utf8::Decode(text, at, c);
}

unsigned ConsoleCodePage() {
    const UINT console = GetConsoleOutputCP();
    return console != 0 ? console : GetOEMCP();
}

bool TextToConsole(const std::string& text, std::string* bytes, std::string* problem) {
    const UINT codePage = ConsoleCodePage();
    size_t at = 0;
    while (at < text.size()) {
        char32_t c = 0;
        const size_t length = utf8::Decode(text, at, &c);
        if (length == 0) {
            *problem = utf8::ByteName(static_cast<unsigned char>(text[at])) + " is no UTF-8 text";
            return false;
        }
        if (codePage == CP_UTF8) {
            bytes->append(text, at, length);
            at += length;
            continue;
        }
        wchar_t units[2];
        const int count = Utf16Of(c, units);
        char out[8];
        BOOL usedDefault = FALSE;
        const int n = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, units, count, out,
                                          sizeof out, nullptr, &usedDefault);
        if (n <= 0 || usedDefault) {
            const std::string shown =
                utf8::Printable(c) ? "\"" + text.substr(at, length) + "\" " : std::string();
            *problem = shown + "(" + utf8::CodePointName(c) + ") is not in code page " +
                       std::to_string(codePage);
            return false;
        }
        bytes->append(out, static_cast<size_t>(n));
        at += length;
    }
    return true;
}

bool ConsoleToText(const std::string& bytes, std::string* text, std::string* problem) {
    const UINT codePage = ConsoleCodePage();
    size_t at = 0;
    while (at < bytes.size()) {
        // One character: a lead byte of a double-byte code page takes the next byte with it.
        size_t length = 1;
        if (codePage == CP_UTF8) {
            char32_t c = 0;
            length = utf8::Decode(bytes, at, &c);
        } else if (IsDBCSLeadByteEx(codePage, static_cast<BYTE>(bytes[at]))) {
            length = at + 1 < bytes.size() ? 2 : 0;
        }
        wchar_t units[2];
        const int n = length == 0
                          ? 0
                          : MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data() + at,
                                                static_cast<int>(length), units, 2);
        if (n <= 0) {
            *problem = utf8::ByteName(static_cast<unsigned char>(bytes[at])) +
                       " is no character of code page " + std::to_string(codePage);
            return false;
        }
        char32_t c = units[0];
        if (n == 2 && units[0] >= 0xD800 && units[0] < 0xDC00)
            c = 0x10000 + ((static_cast<char32_t>(units[0]) - 0xD800) << 10) + (units[1] - 0xDC00);
        utf8::Append(c, text);
        at += length;
    }
    return true;
}

}  // namespace conclient
