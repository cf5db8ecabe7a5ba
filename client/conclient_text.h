// conclient's side of text: its scripts and answers are the user's text, the server's console
// speaks its code page (the conversion is the library's, conproxy_text.h). Everything conclient
// prints that it did not write itself (answers, script lines, names, the library's errors) goes
// through one of the two Shown calls, so that no byte of it can drive the terminal.
// conclient_text.cpp is portable; conclient_text_posix.cpp / _win32.cpp hold the locale.
#pragma once

#include <cstddef>
#include <string>

namespace conclient_text {

// Takes the user's locale for the character type (once, at start).
void UseLocale();
// Standard input is a terminal (the script would have to be typed where the server reads keys).
bool StdinIsTerminal();
// The user's character at text[at] into *c: its length, or 0 where the bytes are no text.
size_t UserCharacter(const std::string& text, size_t at, char32_t* c);

// Console bytes (an answer) as the user's text between quotes: \r, \n, \" and \\ escaped, and
// \xhh for every other control byte and for a byte the user's text cannot show.
std::string ShownConsoleText(const std::string& bytes);
// The user's text (a script line, a path, an error naming one) with \xhh for every byte of a
// control character (C0, DEL, C1) and for bytes that are no text. A backslash stays as it is,
// since Windows paths are full of them.
std::string Shown(const std::string& text);
// A text of the command line or the system (a path, an option, an error message) as Shown makes
// it, for standard error. On Windows such texts are in the ANSI code page: shown in the
// console's, as Windows' own tools show them, with \xhh (\uhhhh) for what it cannot show.
std::string ShownArgument(const std::string& text);

}  // namespace conclient_text
