// The console as a VT terminal: keys come from standard input through the key decoder into one
// queue of input records, which feeds the record reads and the line-mode text read alike; screen
// operations become escape sequences on standard output. Text crosses as code page 866 and is
// shown as a Windows console shows it: a client's bytes never drive the terminal.
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <string>

#include "code_page_866.h"
#include "console.h"
#include "deadline.h"
#include "key_decoder.h"
#include "line_editor.h"
#include "terminal_posix.h"

namespace conproxy {

namespace {

constexpr int kCursorReportTimeoutMs = 500;  // a terminal that has not answered by then won't
constexpr size_t kReadChunkBytes = 256;
constexpr uint16_t kDefaultAttributes = 0x0007;  // light grey on black
constexpr int kWaitForever = -1;
constexpr int16_t kMaxCoordinate = 32767;
// A pasted flood must not grow the queue without end: at this many records we stop reading the
// terminal, and the keys wait in its own (kernel-bounded) buffer until the client takes some.
// One read's worth may go past it (kReadChunkBytes bytes, at most 4 records each).
constexpr size_t kMaxQueuedRecords = 4096;

class PosixConsole : public Console {
  public:
    bool Start(SystemError& error) {
        if (!session_.Start()) {
            error = LastSystemError();
            return false;
        }
        outputIsTerminal_ = isatty(STDOUT_FILENO) == 1;
        return true;
    }

    bool GetScreenInfo(ConsoleScreenBufferInfo& info) override {
        ConsoleCoord size{};
        if (!ScreenSize(size)) {
            return false;
        }
        ConsoleCoord cursor = lastCursor_;
        int row = 0;
        int column = 0;
        if (QueryCursor(row, column)) {
            cursor = ConsoleCoord{static_cast<int16_t>(column - 1), static_cast<int16_t>(row - 1)};
        }
        // A position from before a resize may lie outside the screen now.
        cursor.x = std::max<int16_t>(0, std::min<int16_t>(cursor.x, size.x - 1));
        cursor.y = std::max<int16_t>(0, std::min<int16_t>(cursor.y, size.y - 1));
        lastCursor_ = cursor;
        info.size = size;
        info.cursorPosition = cursor;
        info.attributes = kDefaultAttributes;
        info.window =
            ConsoleRect{0, 0, static_cast<int16_t>(size.x - 1), static_cast<int16_t>(size.y - 1)};
        info.maximumWindowSize = size;
        return true;
    }

    bool FillBlanks(uint32_t cells, ConsoleCoord at) override {
        ConsoleCoord size{};
        if (!ScreenSize(size) || !Inside(at, size)) {
            return false;
        }
        const uint32_t screenCells = uint32_t(size.x) * uint32_t(size.y);
        const uint32_t fromAt = uint32_t(at.y) * uint32_t(size.x) + uint32_t(at.x);
        if (fromAt == 0 && cells >= screenCells) {
            return WriteAll(STDOUT_FILENO, "\x1b[H\x1b[2J", 7);
        }
        // Fewer cells: blanks written over them, the cursor kept where it was (save/restore),
        // and never past the last cell of the screen, as the console stops at its buffer's end.
        const uint32_t blanks = std::min(cells, screenCells - fromAt);
        std::string text =
            "\x1b"
            "7" +
            MoveTo(at) + std::string(blanks, ' ') +
            "\x1b"
            "8";
        return WriteAll(STDOUT_FILENO, text.data(), text.size());
    }

    bool SetCursor(ConsoleCoord at) override {
        ConsoleCoord size{};
        if (!ScreenSize(size) || !Inside(at, size)) {
            return false;
        }
        const std::string text = MoveTo(at);
        if (!WriteAll(STDOUT_FILENO, text.data(), text.size())) {
            return false;
        }
        lastCursor_ = at;
        return true;
    }

    bool PeekInput(InputRecord& record, uint32_t& count) override {
        count = 0;
        if (!session_.InputIsTerminal()) {
            return false;
        }
        Pump(0);
        if (!queue_.empty()) {
            record = queue_.front();
            count = 1;
        }
        return true;
    }

    bool ReadInput(InputRecord& record, uint32_t& count) override {
        count = 0;
        if (!session_.InputIsTerminal()) {
            return false;
        }
        while (queue_.empty()) {
            if (!Pump(kWaitForever)) {
                return false;
            }
        }
        record = queue_.front();
        queue_.pop_front();
        count = 1;
        return true;
    }

    bool ReadText(char* buffer, uint32_t size, uint32_t& count) override {
        count = 0;
        if (size == 0) {
            return true;
        }
        if (!session_.InputIsTerminal()) {
            const ssize_t got = ReadSome(STDIN_FILENO, buffer, size);
            if (got < 0) {
                return false;
            }
            count = static_cast<uint32_t>(got);
            return true;
        }
        while (!editor_.HasText()) {
            while (queue_.empty()) {
                if (!Pump(kWaitForever)) {
                    return false;
                }
            }
            std::string echo;
            editor_.Take(queue_.front(), echo);
            queue_.pop_front();
            if (!echo.empty()) {
                const std::string shown = Cp866ToUtf8(echo.data(), echo.size());
                // The echo belongs on the terminal even when output goes to a file.
                WriteAll(outputIsTerminal_ ? STDOUT_FILENO : STDIN_FILENO, shown.data(),
                         shown.size());
            }
        }
        count = editor_.Deliver(buffer, size);
        return true;
    }

    bool WriteText(const char* data, uint32_t size) override {
        const std::string text = Cp866ToScreen(data, size);
        return WriteAll(STDOUT_FILENO, text.data(), text.size());
    }

  private:
    static bool Inside(ConsoleCoord at, ConsoleCoord size) {
        return at.x >= 0 && at.y >= 0 && at.x < size.x && at.y < size.y;
    }

    static std::string MoveTo(ConsoleCoord at) {
        return "\x1b[" + std::to_string(at.y + 1) + ";" + std::to_string(at.x + 1) + "H";
    }

    static bool WindowSize(int fd, ConsoleCoord& size) {
        struct winsize ws {};
        if (ioctl(fd, TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0 || ws.ws_row == 0) {
            return false;  // an unset size (0 x 0) is no screen to work on
        }
        size.x = static_cast<int16_t>(std::min<int>(ws.ws_col, kMaxCoordinate));
        size.y = static_cast<int16_t>(std::min<int>(ws.ws_row, kMaxCoordinate));
        return true;
    }

    // The output's screen: fails, like the console calls on a file or pipe, when output is not
    // a terminal.
    bool ScreenSize(ConsoleCoord& size) const {
        return outputIsTerminal_ && WindowSize(STDOUT_FILENO, size);
    }

    // Asks the terminal where the cursor is; keys typed ahead stay in the queue. False when it
    // cannot be asked or does not answer in time.
    bool QueryCursor(int& row, int& column) {
        if (!session_.InputIsTerminal()) {
            return false;
        }
        // A report that came too late for an earlier query must not answer this one.
        int staleRow = 0;
        int staleColumn = 0;
        decoder_.TakeCursorReport(staleRow, staleColumn);
        decoder_.ExpectCursorReport();
        if (!WriteAll(STDOUT_FILENO, "\x1b[6n", 4)) {
            return false;
        }
        const Deadline deadline(kCursorReportTimeoutMs);
        while (!decoder_.TakeCursorReport(row, column)) {
            if (deadline.Passed() || !Pump(deadline.RemainingMs())) {
                return false;
            }
        }
        return true;
    }

    // Waits up to waitMs (kWaitForever: no limit) for terminal input and turns what came into
    // records. A window change queues nothing: a Windows console in its default input mode
    // (window input off) delivers no size record either. False at end of input or on a read
    // error.
    bool Pump(int waitMs) {
        int timeoutMs = waitMs;
        if (decoder_.HasPending()) {
            const int pauseMs = escapePause_.RemainingMs();
            if (timeoutMs < 0 || pauseMs < timeoutMs) {
                timeoutMs = pauseMs;
            }
        }
        // A full queue reads nothing more; the wait then only runs out the time.
        const bool room = queue_.size() < kMaxQueuedRecords;
        pollfd input{STDIN_FILENO, static_cast<short>(room ? POLLIN : 0), 0};
        const int ready = poll(&input, 1, timeoutMs);
        if (ready < 0) {
            return errno == EINTR;
        }
        if (room && (input.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            char bytes[kReadChunkBytes];
            const ssize_t got = ReadSome(STDIN_FILENO, bytes, sizeof bytes);
            if (got <= 0) {
                return false;
            }
            decoder_.Feed(bytes, static_cast<size_t>(got), queue_);
            escapePause_ = Deadline(kEscapePauseMs);
        }
        if (decoder_.HasPending() && escapePause_.Passed()) {
            decoder_.Flush(queue_);
        }
        return true;
    }

    TerminalSession session_;
    KeyDecoder decoder_;
    std::deque<InputRecord> queue_;
    LineEditor editor_;
    Deadline escapePause_{0};
    ConsoleCoord lastCursor_{0, 0};
    bool outputIsTerminal_ = false;
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
