// The console as a VT terminal: the screen (screen_posix.h) on standard output, keys
// (terminal_input_posix.h) from standard input, and the line editor between them for the
// line-mode text read, whose echo goes to the screen.
#include <unistd.h>

#include <memory>
#include <string>

#include "console.h"
#include "line_editor.h"
#include "screen_posix.h"
#include "terminal_input_posix.h"
#include "terminal_posix.h"

namespace conproxy {

namespace {

class PosixConsole : public Console {
  public:
    bool Start(SystemError& error) {
        if (!session_.Start()) {
            error = LastSystemError();
            return false;
        }
        input_.WatchArrivals();
        screen_.Start();
        return true;
    }

    bool GetScreenInfo(ConsoleScreenBufferInfo& info) override {
        return screen_.GetScreenInfo(info);
    }

    bool FillBlanks(uint32_t cells, ConsoleCoord at) override {
        return screen_.FillBlanks(cells, at);
    }

    bool SetCursor(ConsoleCoord at) override { return screen_.SetCursor(at); }

    bool PeekInput(InputRecord& record, uint32_t& count) override {
        return input_.Peek(record, count);
    }

    bool ReadInput(InputRecord& record, uint32_t& count) override {
        count = 0;
        if (!input_.Take(record)) {
            return false;
        }
        count = 1;
        return true;
    }

    bool ReadText(char* buffer, uint32_t size, uint32_t& count) override {
        count = 0;
        if (size == 0) {
            return true;
        }
        if (!input_.IsTerminal()) {
            const ssize_t got = ReadSome(STDIN_FILENO, buffer, size);
            if (got < 0) {
                return false;
            }
            count = static_cast<uint32_t>(got);
            return true;
        }
        while (!editor_.HasText()) {
            InputRecord record{};
            if (!input_.Take(record)) {
                return false;
            }
            std::string echo;
            editor_.Take(record, echo);
            if (!echo.empty()) {
                // The echo belongs on the terminal even when output goes to a file.
                screen_.Show(screen_.OutputIsTerminal() ? STDOUT_FILENO : STDIN_FILENO, echo.data(),
                             echo.size());
            }
        }
        count = editor_.Deliver(buffer, size);
        return true;
    }

    bool WriteText(const char* data, uint32_t size) override {
        return screen_.Show(STDOUT_FILENO, data, size);
    }

    bool ShowMessage(const std::string& line) override {
        // Followed like any text, so the next screen information has the cursor where the line
        // left it; a cursor not known yet is not asked for it, as the line is no client's call.
        const std::string text = "\n" + line + "\n";
        return screen_.Show(STDOUT_FILENO, text.data(), text.size(), false);
    }

  private:
    TerminalSession session_;
    TerminalInput input_{session_};
    TerminalScreen screen_{input_};
    LineEditor editor_;
};

}  // namespace

std::unique_ptr<Console> OpenConsole(SystemError& error) {
    auto console = std::make_unique<PosixConsole>();
    if (!console->Start(error)) {
        return nullptr;
    }
    return console;
}

}  // namespace conproxy
