// The Windows console itself: the standard handles taken once at start, each operation one
// console call, the records copied between the Windows structures and our own layout.
#include <windows.h>

#include <cstring>
#include <string>

#include "console.h"

namespace conproxy {

static_assert(sizeof(CONSOLE_SCREEN_BUFFER_INFO) == sizeof(ConsoleScreenBufferInfo),
              "screen information layouts differ");
static_assert(sizeof(INPUT_RECORD) == sizeof(InputRecord), "input record layouts differ");
static_assert(sizeof(COORD) == sizeof(ConsoleCoord), "coordinate layouts differ");

namespace {

class WindowsConsole : public Console {
  public:
    WindowsConsole()
        : input_(GetStdHandle(STD_INPUT_HANDLE)), output_(GetStdHandle(STD_OUTPUT_HANDLE)) {}

    bool GetScreenInfo(ConsoleScreenBufferInfo& info) override {
        CONSOLE_SCREEN_BUFFER_INFO windowsInfo;
        if (!GetConsoleScreenBufferInfo(output_, &windowsInfo)) {
            return false;
        }
        std::memcpy(&info, &windowsInfo, sizeof info);
        return true;
    }

    bool FillBlanks(uint32_t cells, ConsoleCoord at) override {
        DWORD written = 0;
        return FillConsoleOutputCharacterA(output_, ' ', cells, ToCoord(at), &written) != 0;
    }

    bool SetCursor(ConsoleCoord at) override {
        return SetConsoleCursorPosition(output_, ToCoord(at)) != 0;
    }

    bool PeekInput(InputRecord& record, uint32_t& count) override {
        return ReadRecord(record, count, PeekConsoleInputA);
    }

    bool ReadInput(InputRecord& record, uint32_t& count) override {
        return ReadRecord(record, count, ReadConsoleInputA);
    }

    bool ReadText(char* buffer, uint32_t size, uint32_t& count) override {
        DWORD got = 0;
        const bool ok = ReadConsoleA(input_, buffer, size, &got, nullptr) != 0;
        count = ok ? got : 0;
        return ok;
    }

    bool WriteText(const char* data, uint32_t size) override {
        DWORD written = 0;
        return WriteConsoleA(output_, data, size, &written, nullptr) != 0;
    }

    bool ShowMessage(const std::string& line) override {
        // The bytes printf on a text-mode standard output wrote, LF as CR LF, by the same
        // WriteFile, so that it reaches a console and a file alike.
        const std::string text = "\r\n" + line + "\r\n";
        DWORD written = 0;
        return WriteFile(output_, text.data(), static_cast<DWORD>(text.size()), &written,
                         nullptr) != 0 &&
               written == text.size();
    }

  private:
    using RecordCall = BOOL(WINAPI*)(HANDLE, PINPUT_RECORD, DWORD, LPDWORD);

    static COORD ToCoord(ConsoleCoord at) {
        COORD coord;
        coord.X = at.x;
        coord.Y = at.y;
        return coord;
    }

    bool ReadRecord(InputRecord& record, uint32_t& count, RecordCall call) {
        // Zeroed: the call fills the fields only, and the whole record, padding included, goes
        // to the client's region, which must not receive stale bytes of our stack.
        INPUT_RECORD windowsRecord{};
        DWORD got = 0;
        if (!call(input_, &windowsRecord, 1, &got)) {
            count = 0;
            return false;
        }
        count = got;
        if (got > 0) {
            std::memcpy(&record, &windowsRecord, sizeof record);
        }
        return true;
    }

    HANDLE input_;
    HANDLE output_;
};

}  // namespace

std::unique_ptr<Console> OpenConsole(SystemError& error) {
    error = 0;
    return std::make_unique<WindowsConsole>();
}

// Ctrl+C ends the process by its control event; the named objects go with its last handle.
void SetEndingCleanUp(void (*)()) {}

}  // namespace conproxy
