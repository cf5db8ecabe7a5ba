// Windows: the user's text is UTF-8, whatever the ANSI code page (scripts saved by Notepad).
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0501
#endif
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "conclient_text.h"
#include "conproxy_text.h"
#include "conproxy_text_utf8.h"

namespace conclient_text {

void UseLocale() {}

size_t UserCharacter(const std::string& text, size_t at, char32_t* c) {
    return conclient::DecodeUserCharacter(text, at, c);
}

std::string ShownArgument(const std::string& text) {
    const int count =
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(count > 0 ? count : 0), L'\0');
    if (count > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], count);
    const UINT codePage = conclient::ConsoleCodePage();
    std::string out;
    for (const wchar_t w : wide) {
        char bytes[8];
        BOOL usedDefault = FALSE;
        int n = 0;
        if (conclient::utf8::Printable(w) && (w < 0xD800 || w > 0xDFFF)) {
            n = WideCharToMultiByte(codePage, codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS, &w, 1,
                                    bytes, sizeof bytes, nullptr,
                                    codePage == CP_UTF8 ? nullptr : &usedDefault);
        }
        if (n > 0 && !usedDefault) {
            out.append(bytes, static_cast<size_t>(n));
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, w < 0x100 ? "\\x%02x" : "\\u%04x",
                          static_cast<unsigned>(w));
            out += escape;
        }
    }
    return out;
}

bool StdinIsTerminal() {
    return _isatty(_fileno(stdin)) != 0;
}

}  // namespace conclient_text
