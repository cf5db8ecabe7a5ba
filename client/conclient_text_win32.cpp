// Windows: the user's text is UTF-8, whatever the ANSI code page (scripts saved by Notepad).
#include <io.h>

#include <cstdio>

#include "conclient_text.h"
#include "conproxy_text_utf8.h"

namespace conclient_text {

void UseLocale() {}

size_t UserCharacter(const std::string& text, size_t at, char32_t* c) {
    return conclient::utf8::Decode(text, at, c);
}

bool StdinIsTerminal() {
    return _isatty(_fileno(stdin)) != 0;
}

}  // namespace conclient_text
