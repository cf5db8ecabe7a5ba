// Helpers for the end-to-end tests of conproxy: a pseudo-terminal whose screen is kept by a
// real terminal emulator (tests/support's, fed by a reader thread, answering the terminal's
// queries),
// pipes that collect a child's output, and checks on the shared-memory names.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "conproxy_protocol.h"
#include "terminal_screen.h"

namespace e2e {

constexpr int kScreenRows = 25;
constexpr int kScreenCols = 80;
constexpr int kWaitMs = 5000;

// Path of the conproxy under test.
std::string ServerPath();

// True when the POSIX shared-memory object of this name exists.
bool ShmExists(const std::string& name);

// Removes the three names when the test ends, however it ends, in case a faulty server left
// them behind (the names are unique to the test, so nobody else's objects go).
class ShmNamesGuard {
  public:
    // Shared-memory object names, without the leading '/'.
    explicit ShmNamesGuard(std::vector<std::string> objectNames) : names_(std::move(objectNames)) {}
    // The region and the two events of a server started with these three arguments.
    ShmNamesGuard(const std::string& suffix, const std::string& requestEvent,
                  const std::string& replyEvent)
        : names_{conproxy_protocol::RegionName(suffix), requestEvent, replyEvent} {}
    ShmNamesGuard(const ShmNamesGuard&) = delete;
    ShmNamesGuard& operator=(const ShmNamesGuard&) = delete;
    ~ShmNamesGuard();

  private:
    std::vector<std::string> names_;
};

// Wait until pred() holds or timeoutMs passes; returns pred()'s last value.
bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = kWaitMs);

// Move-only file descriptor.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    Fd& operator=(Fd&& o) noexcept;
    ~Fd() { Reset(); }
    int Get() const { return fd_; }
    void Reset();

  private:
    int fd_ = -1;
};

// A pipe whose read end is drained by a thread, so the writer never blocks on it.
class OutputPipe {
  public:
    OutputPipe();
    ~OutputPipe();
    int WriteEnd() const { return write_.Get(); }
    // Close our copy of the write end (after the child got its own).
    void CloseWriteEnd() { write_.Reset(); }
    // Everything read so far.
    std::string Text();
    // Wait until the writer side is closed everywhere (child ended) and return the text.
    std::string TextAtEnd(int timeoutMs = kWaitMs);

  private:
    Fd read_, write_;
    std::mutex mutex_;
    std::string text_;
    std::atomic<bool> eof_{false};
    std::thread reader_;
};

// A pseudo-terminal of 25 x 80 with an emulated screen on its master side.
class EmulatedTerminal {
  public:
    EmulatedTerminal();
    ~EmulatedTerminal();
    EmulatedTerminal(const EmulatedTerminal&) = delete;
    EmulatedTerminal& operator=(const EmulatedTerminal&) = delete;

    const std::string& SlavePath() const { return slavePath_; }
    int SlaveFd() const { return slave_.Get(); }  // opened O_NOCTTY, kept open by the test
    bool Ok() const { return master_.Get() >= 0 && slave_.Get() >= 0; }

    // Bytes as the user types them.
    void Type(const std::string& bytes);
    // Change the window size (the kernel signals the terminal's foreground group).
    void Resize(int rows, int cols);

    // The row as UTF-8, trailing blanks removed.
    std::string Row(int row);
    // All of the screen's text, rows joined with '\n'.
    std::string ScreenText();
    void Cursor(int* row, int* col);
    // Bytes the terminal received from the other side so far.
    size_t BytesReceived();

  private:
    void ReadLoop();

    Fd master_, slave_;
    std::string slavePath_;
    test_support::TerminalScreen screen_;
    std::mutex mutex_;
    size_t received_ = 0;
    std::atomic<bool> stop_{false};
    std::thread reader_;
};

// Terminal settings that matter for "restored": modes and control characters.
bool SameTermios(const termios& a, const termios& b);

}  // namespace e2e
