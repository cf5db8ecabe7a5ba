// Linux: the user's text is the locale's (UTF-8 as a rule; the C locale is read as UTF-8).
#include <langinfo.h>
#include <unistd.h>

#include <clocale>
#include <cstring>
#include <cwchar>

#include "conclient_text.h"
#include "conproxy_text_utf8.h"

namespace conclient_text {

void UseLocale() {
    std::setlocale(LC_CTYPE, "");
}

size_t UserCharacter(const std::string& text, size_t at, char32_t* c) {
    const char* codeset = nl_langinfo(CODESET);
    if (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "ANSI_X3.4-1968") == 0)
        return conclient::utf8::Decode(text, at, c);
    std::mbstate_t state{};
    wchar_t wide = 0;
    const size_t used = std::mbrtowc(&wide, text.data() + at, text.size() - at, &state);
    if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2))
        return 0;
    *c = static_cast<char32_t>(wide);
    return used == 0 ? 1 : used;  // a NUL byte is one character
}

std::string ShownArgument(const std::string& text) {
    return Shown(text);
}

bool StdinIsTerminal() {
    return isatty(STDIN_FILENO) == 1;
}

}  // namespace conclient_text
