// The screen as a VT terminal on standard output: screen operations become escape sequences,
// text crosses as code page 866 and is shown as a Windows console shows it (a client's bytes
// never drive the terminal). The cursor is followed through every write, so text that fills a
// line leaves it where a Windows console does, and the screen information has a true cursor
// when the terminal cannot be asked.
#pragma once

#include <cstddef>
#include <memory>

#include "code_page_866.h"
#include "console_records.h"
#include "terminal_input_posix.h"

namespace conproxy {

class TerminalScreen {
  public:
    // The terminal's own answer about its cursor comes through input.
    explicit TerminalScreen(TerminalInput& input) : input_(input) {}

    // Looks at standard output once: a terminal or not, and how it ends a line feed.
    void Start();
    bool OutputIsTerminal() const { return outputIsTerminal_; }

    bool GetScreenInfo(ConsoleScreenBufferInfo& info);
    bool FillBlanks(uint32_t cells, ConsoleCoord at);
    bool SetCursor(ConsoleCoord at);
    // Text on fd (standard output, or the terminal on standard input for an echo), the cursor
    // followed where the screen is ours to know. askUnknown: a cursor not known yet is asked of
    // the terminal first; otherwise the text goes out unfollowed and the cursor stays unknown.
    bool Show(int fd, const char* data, size_t size, bool askUnknown = true);

  private:
    void FollowScreen(ConsoleCoord size);
    void AskCursor();
    bool ScreenSize(ConsoleCoord& size);

    TerminalInput& input_;
    ScreenCursor cursor_;
    bool cursorKnown_ = false;  // cursor_ is where the terminal's cursor is
    std::unique_ptr<char[]> screenText_;
    size_t screenTextBytes_ = 0;
    bool outputIsTerminal_ = false;
    bool screenUnsized_ = false;  // the output terminal said 0 x 0 when last asked
};

}  // namespace conproxy
