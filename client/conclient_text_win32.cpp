// Windows: the console and the scripts made for it are in code page 866 already, so text passes
// through as bytes, and answers escape what is not ASCII, as the program always did there.
#include <io.h>

#include <cstdio>

#include "conclient_text.h"

namespace conclient_text {

void UseLocale() {}

bool To866(const std::string& text, std::string* bytes, std::string*) {
    *bytes = text;
    return true;
}

std::string Shown866(unsigned char byte) {
    return byte < 0x80 ? std::string(1, static_cast<char>(byte)) : std::string();
}

bool StdinIsTerminal() {
    return _isatty(_fileno(stdin)) != 0;
}

}  // namespace conclient_text
