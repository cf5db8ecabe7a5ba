// The console as a VT terminal: keys come from standard input through the key decoder into one
// queue of input records, which feeds the record reads and the line-mode text read alike; screen
// operations become escape sequences on standard output. Text crosses as code page 866 and is
// shown as a Windows console shows it: a client's bytes never drive the terminal. The cursor is
// followed through every write, so text that fills a line leaves it where a Windows console
// does, and the screen information has a true cursor when the terminal cannot be asked.
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <memory>
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
// A pasted flood must not grow the queue without end: at this many records no more keys are
// decoded (a key's records are never split), and the bytes read are held undecoded, up to
// kMaxHeldBytes; then the rest waits in the terminal's own (kernel-bounded) buffer until the
// client takes some. Reading on while the queue is full lets a cursor report through.
constexpr size_t kMaxQueuedRecords = 4096;
constexpr size_t kMaxHeldBytes = 4096;

class PosixConsole : public Console {
  public:
    bool Start(SystemError& error) {
        if (!session_.Start()) {
            error = LastSystemError();
            return false;
        }
        outputIsTerminal_ = isatty(STDOUT_FILENO) == 1;
        struct termios output {};
        if (outputIsTerminal_ && tcgetattr(STDOUT_FILENO, &output) == 0) {
            cursor_.lineFeedReturns =
                (output.c_oflag & OPOST) != 0 && (output.c_oflag & ONLCR) != 0;
        }
        return true;
    }

    bool GetScreenInfo(ConsoleScreenBufferInfo& info) override {
        ConsoleCoord size{};
        if (!ScreenSize(size)) {
            return false;
        }
        // The terminal's answer where it can give one; else the cursor as followed.
        FollowScreen(size);
        AskCursor();
        info.size = size;
        info.cursorPosition =
            ConsoleCoord{static_cast<int16_t>(cursor_.x), static_cast<int16_t>(cursor_.y)};
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
            // Homes the terminal's cursor too (the console's stays; a clear moves it there next).
            FollowScreen(size);
            cursor_.x = 0;
            cursor_.y = 0;
            cursorKnown_ = WriteAll(STDOUT_FILENO, "\x1b[H\x1b[2J", 7);
            return cursorKnown_;
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
            cursorKnown_ = false;
            return false;
        }
        FollowScreen(size);
        cursor_.x = at.x;
        cursor_.y = at.y;
        cursorKnown_ = true;
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
                // The echo belongs on the terminal even when output goes to a file.
                Show(outputIsTerminal_ ? STDOUT_FILENO : STDIN_FILENO, echo.data(), echo.size());
            }
        }
        count = editor_.Deliver(buffer, size);
        return true;
    }

    bool WriteText(const char* data, uint32_t size) override {
        return Show(STDOUT_FILENO, data, size);
    }

  private:
    static bool Inside(ConsoleCoord at, ConsoleCoord size) {
        return at.x >= 0 && at.y >= 0 && at.x < size.x && at.y < size.y;
    }

    // Text on the screen, the cursor followed where the screen is ours to know.
    bool Show(int fd, const char* data, size_t size) {
        ConsoleCoord screen{};
        // A terminal without a size (0 x 0) is not asked again before each write, only by the
        // commands that need the screen: a system call costs as much as converting half a block.
        const bool followed = fd == STDOUT_FILENO && !screenUnsized_ && ScreenSize(screen);
        if (followed) {
            FollowScreen(screen);
            if (!cursorKnown_) {
                AskCursor();
            }
        }
        ScreenCursor unfollowed;
        ScreenCursor& cursor = followed && cursorKnown_ ? cursor_ : unfollowed;
        const size_t bound = ScreenTextBound(size);
        if (bound > screenTextBytes_) {
            screenText_ = std::make_unique<char[]>(bound);
            screenTextBytes_ = bound;
        }
        const char* end = AppendScreenText(data, size, cursor, screenText_.get());
        if (!WriteAll(fd, screenText_.get(), static_cast<size_t>(end - screenText_.get()))) {
            cursorKnown_ = cursorKnown_ && !followed;
            return false;
        }
        return true;
    }

    // A screen of another size: the terminal may have moved the cursor with it.
    void FollowScreen(ConsoleCoord size) {
        if (cursor_.columns != size.x || cursor_.rows != size.y) {
            cursor_.columns = size.x;
            cursor_.rows = size.y;
            cursorKnown_ = false;
            // Until the terminal answers, a position from before lies inside the screen.
            cursor_.x = std::min(cursor_.x, size.x - 1);
            cursor_.y = std::min(cursor_.y, size.y - 1);
        }
    }

    // The terminal's cursor, when it answers, becomes the one followed.
    void AskCursor() {
        int row = 0;
        int column = 0;
        if (!QueryCursor(row, column)) {
            return;
        }
        cursor_.x = std::max(0, std::min(column - 1, cursor_.columns - 1));
        cursor_.y = std::max(0, std::min(row - 1, cursor_.rows - 1));
        cursorKnown_ = true;
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
    bool ScreenSize(ConsoleCoord& size) {
        if (!outputIsTerminal_) {
            return false;
        }
        screenUnsized_ = !WindowSize(STDOUT_FILENO, size);
        return !screenUnsized_;
    }

    // Asks the terminal where the cursor is; keys typed ahead stay in the queue. False when it
    // cannot be asked, or its answer cannot be read (held bytes full) or does not come in time.
    // One query at most is on its way: a terminal that answers late (or never) gets no second,
    // so no answer ever arrives unexpected and is taken for keys (ESC [ 1 ; 5 R is Ctrl+F3).
    bool QueryCursor(int& row, int& column) {
        if (!session_.InputIsTerminal()) {
            return false;
        }
        if (decoder_.ExpectingCursorReport()) {
            Pump(0);
            if (decoder_.ExpectingCursorReport()) {
                return false;
            }
        }
        // The answer to an earlier query tells where the cursor was, not where it is.
        decoder_.TakeCursorReport(row, column);
        if (decoder_.HeldBytes() >= kMaxHeldBytes) {
            return false;
        }
        decoder_.ExpectCursorReport();
        if (!WriteAll(STDOUT_FILENO, "\x1b[6n", 4)) {
            return false;
        }
        const Deadline deadline(kCursorReportTimeoutMs);
        while (!decoder_.TakeCursorReport(row, column)) {
            if (deadline.Passed() || decoder_.HeldBytes() >= kMaxHeldBytes ||
                !Pump(deadline.RemainingMs())) {
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
        if (decoder_.HeldBytes() > 0 && queue_.size() < kMaxQueuedRecords) {
            // Room again for held keys: input that has come already, nothing to wait for.
            const size_t queued = queue_.size();
            decoder_.Feed(nullptr, 0, queue_, kMaxQueuedRecords);
            if (queue_.size() > queued) {
                return true;
            }
        }
        int timeoutMs = waitMs;
        if (decoder_.HasPending()) {
            const int pauseMs = escapePause_.RemainingMs();
            if (timeoutMs < 0 || pauseMs < timeoutMs) {
                timeoutMs = pauseMs;
            }
        }
        // Full held bytes read nothing more; the wait then only runs out the time.
        const size_t room = kMaxHeldBytes - std::min(kMaxHeldBytes, decoder_.HeldBytes());
        pollfd input{STDIN_FILENO, static_cast<short>(room > 0 ? POLLIN : 0), 0};
        const int ready = poll(&input, 1, timeoutMs);
        if (ready < 0) {
            return errno == EINTR;
        }
        if (room > 0 && (input.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            char bytes[kReadChunkBytes];
            const ssize_t got = ReadSome(STDIN_FILENO, bytes, std::min(room, sizeof bytes));
            if (got <= 0) {
                return false;
            }
            decoder_.Feed(bytes, static_cast<size_t>(got), queue_, kMaxQueuedRecords);
            escapePause_ = Deadline(kEscapePauseMs);
        }
        if (decoder_.HasPending() && escapePause_.Passed()) {
            decoder_.Flush(queue_, kMaxQueuedRecords);
        }
        return true;
    }

    TerminalSession session_;
    KeyDecoder decoder_;
    std::deque<InputRecord> queue_;
    LineEditor editor_;
    Deadline escapePause_{0};
    ScreenCursor cursor_;
    bool cursorKnown_ = false;  // cursor_ is where the terminal's cursor is
    std::unique_ptr<char[]> screenText_;
    size_t screenTextBytes_ = 0;
    bool outputIsTerminal_ = false;
    bool screenUnsized_ = false;  // the output terminal said 0 x 0 when last asked
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
