// Linux: the user's text in the locale's encoding, the console's in code page 866 through the
// protocol's table (conproxy turns 866 into its terminal's text). UTF-8, and the C locale read
// as UTF-8, go through our strict reader; other locales through the C library's multibyte calls.
#include <langinfo.h>

#include <climits>
#include <cstring>
#include <cwchar>

#include "code_page_866_table.h"
#include "conproxy_text.h"
#include "conproxy_text_utf8.h"

namespace conclient {
namespace {

// UTF-8 itself, or the C locale (ASCII, which UTF-8 contains): our own reader and writer.
bool LocaleIsUtf8() {
    const char* codeset = nl_langinfo(CODESET);
    return std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "ANSI_X3.4-1968") == 0;
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

size_t DecodeUserCharacter(const std::string& text, size_t at, char32_t* c) {
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

unsigned ConsoleCodePage() {
    return 866;
}

bool TextToConsole(const std::string& text, std::string* bytes, std::string* problem) {
    size_t at = 0;
    while (at < text.size()) {
        char32_t c = 0;
        const size_t length = DecodeUserCharacter(text, at, &c);
        if (length == 0) {
            *problem = utf8::ByteName(static_cast<unsigned char>(text[at])) +
                       " is no text in this locale (" + nl_langinfo(CODESET) + ")";
            return false;
        }
        const int byte = conproxy_protocol::Cp866ByteOf(c);
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
        const char32_t c = conproxy_protocol::Cp866CharacterOf(static_cast<unsigned char>(b));
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
