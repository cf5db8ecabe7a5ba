// What the loader needs from the console of its platform: the text conversion, the set-up of
// output buffering, the key wait before error exits, and the current directory. One file per
// platform (console_posix.cpp, console_win32.cpp).
#pragma once

#include <cstddef>
#include <string>

namespace portboot {

// Where --help and --version are taken, as the only argument (a Linux command line; the Windows
// program keeps its command line as it always was).
extern const bool kHelpOptions;

// Once, before any output: locale, and stdout unbuffered on a terminal, 4096-byte buffered
// when redirected. True when standard output is an interactive console.
bool SetUpConsoleOutput();

// How many characters a line of the console holds; 0 when that cannot be found out.
std::size_t ConsoleColumns();

// `length` Windows-1251 bytes in the console's encoding.
std::string ConvertToConsole(const char* bytes, std::size_t length);

// A name the program did not write (the image's, the current directory's, a rejected option) in
// the encoding the console shows: on Windows it comes in the ANSI code page and goes out in the
// OEM one, as the texts do, whether the output is the console or a file; elsewhere the locale's
// bytes are the console's already.
std::string NameToConsole(const std::string& name);

// Waits for one key on the console itself, not on standard input, and takes that key alone (an
// escape sequence is one key); what was typed after it stays. Returns at once when the process
// has no console to read, or runs in the background of its terminal. The prompt, where not
// empty, is shown on the console while the wait lasts and erased after it.
void WaitForKey(const char* prompt);

// The current directory into `buffer`; an empty text when it cannot be read or does not fit.
void GetCurrentDir(char* buffer, std::size_t size);

}  // namespace portboot
