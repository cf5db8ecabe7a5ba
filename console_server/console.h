// The console the commands work on, as the few Windows console calls the server makes. Each
// operation returns true on success like the Windows call; one file per platform implements it
// (the Windows console itself, or a VT terminal on POSIX), and tests put a fake in its place.
#pragma once

#include <cstdint>
#include <memory>

#include "console_records.h"
#include "rendezvous.h"

namespace conproxy {

class Console {
  public:
    virtual ~Console() = default;

    // GetConsoleScreenBufferInfo on the output.
    virtual bool GetScreenInfo(ConsoleScreenBufferInfo& info) = 0;
    // FillConsoleOutputCharacterA with blanks: cells characters from the position on.
    virtual bool FillBlanks(uint32_t cells, ConsoleCoord at) = 0;
    // SetConsoleCursorPosition; fails outside the screen buffer.
    virtual bool SetCursor(ConsoleCoord at) = 0;
    // PeekConsoleInputA for one record; count is 0 or 1; never waits.
    virtual bool PeekInput(InputRecord& record, uint32_t& count) = 0;
    // ReadConsoleInputA for one record; waits until there is one.
    virtual bool ReadInput(InputRecord& record, uint32_t& count) = 0;
    // ReadConsoleA: at most size characters into buffer, in the console's line mode.
    virtual bool ReadText(char* buffer, uint32_t size, uint32_t& count) = 0;
    // WriteConsoleA: the characters at the cursor.
    virtual bool WriteText(const char* data, uint32_t size) = 0;
};

// The console of this process, on its standard input and output. On POSIX a terminal on standard
// input is switched to raw input until the returned object goes away (or a signal ends the
// process). Null with the error code when it cannot be set up.
std::unique_ptr<Console> OpenConsole(SystemError& error);

}  // namespace conproxy
