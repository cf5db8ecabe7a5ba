// The console on Windows: texts are turned from the ANSI into the OEM code page with
// CharToOemBuffA, the key wait is the run-time library's _getch, the directory comes from
// GetCurrentDirectoryA. A Ctrl+C that arrives as a console event during the wait is put back
// into the console's input as the key it was, so it ends the wait and does not end the program.
#include <windows.h>

#include <conio.h>
#include <io.h>

#include <cstdio>

#include "console.h"
#include "console_texts.h"

namespace portboot {

// The usage text is all there is, and the command line takes no other options.
constexpr char kUsageNote[] = "";
const bool kHelpOptions = false;

namespace {
constexpr std::size_t kRedirectedBufferSize = 4096;
constexpr WORD kVirtualKeyC = 'C';
constexpr char kCtrlC = '\x03';

// _getch switches processed input off, so a Windows console hands Ctrl+C to it as a key. A
// console that leaves it to the terminal (Wine's on a Unix tty) raises a Ctrl+C event instead,
// whose default handler would end the program with status 0, an error stop looking like success.
BOOL WINAPI CtrlCAsKey(DWORD event) {
    if (event != CTRL_C_EVENT) {
        return FALSE;
    }
    const HANDLE input =
        CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (input != INVALID_HANDLE_VALUE) {
        INPUT_RECORD record;
        ZeroMemory(&record, sizeof record);
        record.EventType = KEY_EVENT;
        record.Event.KeyEvent.bKeyDown = TRUE;
        record.Event.KeyEvent.wRepeatCount = 1;
        record.Event.KeyEvent.wVirtualKeyCode = kVirtualKeyC;
        record.Event.KeyEvent.uChar.AsciiChar = kCtrlC;
        record.Event.KeyEvent.dwControlKeyState = LEFT_CTRL_PRESSED;
        DWORD written = 0;
        WriteConsoleInputA(input, &record, 1, &written);
        CloseHandle(input);
    }
    return TRUE;
}
}  // namespace

bool SetUpConsoleOutput() {
    // On a console each label must be visible before its command byte goes out; redirected
    // output is collected. _isatty says yes to NUL and other character devices too; only a
    // console answers GetConsoleMode.
    DWORD mode = 0;
    const bool console =
        _isatty(_fileno(stdout)) && GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
    if (_isatty(_fileno(stdout))) {
        std::setvbuf(stdout, nullptr, _IONBF, 0);
    } else {
        std::setvbuf(stdout, nullptr, _IOFBF, kRedirectedBufferSize);
    }
    return console;
}

std::string ConvertToConsole(const char* bytes, std::size_t length) {
    std::string converted(bytes, length);
    CharToOemBuffA(converted.data(), &converted[0], static_cast<DWORD>(length));
    return converted;
}

std::string NameToConsole(const std::string& name) {
    // What `dir` or `type` of a file shows: the same conversion, also for redirected output.
    return ConvertToConsole(name.data(), name.size());
}

TextBytes ConsolePlatformText(Text /*UsageNote*/) {
    return Bytes(kUsageNote);
}

void WaitForKey(const char*) {
    // The message that explains the stop is out before the program sits waiting, also when
    // standard output is a file or a pipe.
    std::fflush(stdout);
    SetConsoleCtrlHandler(CtrlCAsKey, TRUE);
    // Without a console _getch returns at once.
    (void)_getch();
    SetConsoleCtrlHandler(CtrlCAsKey, FALSE);
}

std::size_t ConsoleColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info) || info.dwSize.X <= 0) {
        return 0;
    }
    return static_cast<std::size_t>(info.dwSize.X);
}

void GetCurrentDir(char* buffer, std::size_t size) {
    if (size == 0) {
        return;
    }
    // 0 is a failure; a value of `size` or more is the length the directory would need.
    const DWORD got = GetCurrentDirectoryA(static_cast<DWORD>(size), buffer);
    if (got == 0 || got >= size) {
        buffer[0] = '\0';
    }
}

}  // namespace portboot
