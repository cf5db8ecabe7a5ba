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
    return conclient::DecodeUserCharacter(text, at, c);
}

std::string ShownArgument(const std::string& text) {
    return Shown(text);
}

bool StdinIsTerminal() {
    return isatty(STDIN_FILENO) == 1;
}

}  // namespace conclient_text
