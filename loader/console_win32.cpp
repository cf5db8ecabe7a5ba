// The console on Windows: texts are turned from the ANSI into the OEM code page in place with
// CharToOemBuffA, the key wait is the run-time library's _getch, the directory comes from
// GetCurrentDirectoryA.
#include <windows.h>

#include <conio.h>
#include <io.h>

#include <cstdio>

#include "console.h"
#include "console_texts.h"

// The directory and the file name are joined with a backslash here.
static char infoFormatBytes[] =
    // \n
    "\n"
    // Файл %s\%s\n
    "\xD4\xE0\xE9\xEB %s\\%s\n"
    // Порт %s:%u\n
    "\xCF\xEE\xF0\xF2 %s:%u\n"
    // Функция %s\n
    "\xD4\xF3\xED\xEA\xF6\xE8\xFF %s\n"
    // Точка входа %u\n
    "\xD2\xEE\xF7\xEA\xE0 \xE2\xF5\xEE\xE4\xE0 %u\n"
    // Длина файла %u
    "\xC4\xEB\xE8\xED\xE0 \xF4\xE0\xE9\xEB\xE0 %u";
ConsoleText infoFormatText{infoFormatBytes, sizeof(infoFormatBytes) - 1, nullptr};

namespace {
constexpr std::size_t kRedirectedBufferSize = 4096;
}  // namespace

void SetUpConsoleOutput() {
    // On a console each label must be visible before its command byte goes out; redirected
    // output is collected.
    if (_isatty(_fileno(stdout))) {
        std::setvbuf(stdout, nullptr, _IONBF, 0);
    } else {
        std::setvbuf(stdout, nullptr, _IOFBF, kRedirectedBufferSize);
    }
}

const char* ConvertToConsole(char* bytes, std::size_t length) {
    CharToOemBuffA(bytes, bytes, static_cast<DWORD>(length));
    return bytes;
}

void WaitForKey() {
    // Without a console _getch returns at once.
    (void)_getch();
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
