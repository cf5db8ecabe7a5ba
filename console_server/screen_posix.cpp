#include "screen_posix.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "terminal_posix.h"

namespace conproxy {

namespace {

constexpr uint16_t kDefaultAttributes = 0x0007;  // light grey on black
constexpr int16_t kMaxCoordinate = 32767;

bool Inside(ConsoleCoord at, ConsoleCoord size) {
    return at.x >= 0 && at.y >= 0 && at.x < size.x && at.y < size.y;
}

std::string MoveTo(ConsoleCoord at) {
    return "\x1b[" + std::to_string(at.y + 1) + ";" + std::to_string(at.x + 1) + "H";
}

bool WindowSize(int fd, ConsoleCoord& size) {
    struct winsize ws {};
    if (ioctl(fd, TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0 || ws.ws_row == 0) {
        return false;  // an unset size (0 x 0) is no screen to work on
    }
    size.x = static_cast<int16_t>(std::min<int>(ws.ws_col, kMaxCoordinate));
    size.y = static_cast<int16_t>(std::min<int>(ws.ws_row, kMaxCoordinate));
    return true;
}

}  // namespace

void TerminalScreen::Start() {
    outputIsTerminal_ = isatty(STDOUT_FILENO) == 1;
    struct termios output {};
    if (outputIsTerminal_ && tcgetattr(STDOUT_FILENO, &output) == 0) {
        cursor_.lineFeedReturns = (output.c_oflag & OPOST) != 0 && (output.c_oflag & ONLCR) != 0;
    }
}

bool TerminalScreen::GetScreenInfo(ConsoleScreenBufferInfo& info) {
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

bool TerminalScreen::FillBlanks(uint32_t cells, ConsoleCoord at) {
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
    // Fewer cells: blanks written over them, the cursor kept where it was (save/restore), and
    // never past the last cell of the screen, as the console stops at its buffer's end.
    const uint32_t blanks = std::min(cells, screenCells - fromAt);
    std::string text =
        "\x1b"
        "7" +
        MoveTo(at) + std::string(blanks, ' ') +
        "\x1b"
        "8";
    return WriteAll(STDOUT_FILENO, text.data(), text.size());
}

bool TerminalScreen::SetCursor(ConsoleCoord at) {
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

bool TerminalScreen::Show(int fd, const char* data, size_t size, bool askUnknown) {
    ConsoleCoord screen{};
    // A terminal without a size (0 x 0) is not asked again before each write, only by the
    // commands that need the screen: a system call costs as much as converting half a block.
    const bool followed = fd == STDOUT_FILENO && !screenUnsized_ && ScreenSize(screen);
    if (followed) {
        FollowScreen(screen);
        if (!cursorKnown_ && askUnknown) {
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
void TerminalScreen::FollowScreen(ConsoleCoord size) {
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
void TerminalScreen::AskCursor() {
    int row = 0;
    int column = 0;
    if (!input_.QueryCursor(row, column)) {
        return;
    }
    cursor_.x = std::max(0, std::min(column - 1, cursor_.columns - 1));
    cursor_.y = std::max(0, std::min(row - 1, cursor_.rows - 1));
    cursorKnown_ = true;
}

// The output's screen: fails, like the console calls on a file or pipe, when output is not a
// terminal.
bool TerminalScreen::ScreenSize(ConsoleCoord& size) {
    if (!outputIsTerminal_) {
        return false;
    }
    screenUnsized_ = !WindowSize(STDOUT_FILENO, size);
    return !screenUnsized_;
}

}  // namespace conproxy
