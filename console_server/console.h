// The console the commands work on, as the few Windows console calls the server makes. Each
// operation returns true on success like the Windows call; one file per platform implements it
// (the Windows console itself, or a VT terminal on POSIX), and tests put a fake in its place.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "console_records.h"
#include "system_error.h"

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
    // A line of the server's own (not a client's text), set apart on a line of its own as
    // printf would put it on standard output, a screen or a file alike; the console's idea of
    // the cursor moves with it.
    virtual bool ShowMessage(const std::string& line) = 0;
};

// The console of this process, on its standard input and output. On POSIX a terminal on standard
// input is switched to raw input until the returned object goes away (or a signal ends the
// process). Null with the error code when it cannot be set up.
std::unique_ptr<Console> OpenConsole(SystemError& error);

// What a signal that ends the process (Ctrl+C on the terminal among them) must do besides
// restoring the console: registered by the layer that owns the rest. Async-signal-safe. On
// Windows nothing runs it: the control event ends the process and its objects go with it.
void SetEndingCleanUp(void (*cleanUp)());

}  // namespace conproxy
