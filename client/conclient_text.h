// conclient's scripts and answers are the user's text; the server's console speaks code page 866.
// One file per platform: conclient_text_posix.cpp converts between the locale's encoding and
// 866; conclient_text_win32.cpp passes bytes through (the Windows console is in 866 already).
// Only conclient uses this: the client library itself stays with bytes.
#pragma once

#include <string>

namespace conclient_text {

// Takes the user's locale for the character type (once, at start).
void UseLocale();
// `text` in the locale's encoding as code page 866 bytes; false with *problem naming the first
// character that 866 has not (or the bytes that are no text in the locale).
bool To866(const std::string& text, std::string* bytes, std::string* problem);
// A code page 866 byte from 0x80 up as the locale's text, or empty where the locale cannot show
// it (the caller then writes an escape).
std::string Shown866(unsigned char byte);
// Standard input is a terminal (the script would have to be typed where the server reads keys).
bool StdinIsTerminal();

}  // namespace conclient_text
