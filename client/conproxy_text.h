// Text between a client's user and the server's console. The client library itself deals in
// console bytes (WriteText sends them as given, ReadText returns them); these two calls convert
// a user's text to those bytes and back, refusing, with a reason, what the other side cannot
// show instead of guessing a replacement.
//
// The user's text: on Linux the encoding of the C library's locale (LC_CTYPE, set by the program
// with setlocale(LC_CTYPE, "")), UTF-8 as a rule; the C or POSIX locale is read as UTF-8. On
// Windows UTF-8, whatever the ANSI code page (a script or answer file is UTF-8 on both).
// The console's bytes: on Linux code page 866, which conproxy shows on its terminal; on Windows
// the code page of the console conproxy serves (GetConsoleOutputCP, else the OEM code page).
// Only the console's side is fixed per machine; nothing here keeps state between calls.
#pragma once

#include <string>

namespace conclient {

// The code page the server's console shows (866 on Linux).
unsigned ConsoleCodePage();

// `text` (the user's text) as console bytes, appended to *bytes. False, with *problem naming the
// first character the console's code page lacks (or the first byte that is no text in the user's
// encoding), when any character cannot be shown there; *bytes then holds the characters before
// it. The problem text is safe to print: the character is quoted only when it is printable.
bool TextToConsole(const std::string& text, std::string* bytes, std::string* problem);

// Console `bytes` as the user's text, appended to *text. False, with *problem naming the first
// byte that the user's encoding cannot show (or that is no character of the console's code page);
// *text then holds the characters before it. Control characters pass unchanged: showing them
// safely is the caller's part.
bool ConsoleToText(const std::string& bytes, std::string* text, std::string* problem);

}  // namespace conclient
