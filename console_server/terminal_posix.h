// The POSIX terminal underneath the console: raw input mode switched on at start and restored
// on every way out (object end, SIGTERM/SIGHUP/SIGINT), a self-pipe that SIGWINCH writes to,
// and the EINTR and short-write loops for descriptors.
#pragma once

#include <cstddef>

#include <sys/types.h>

// Writes all bytes, looping over short writes and EINTR. False on an error.
bool WriteAll(int fd, const char* data, size_t size);
// One read() that retries on EINTR: bytes read, 0 at end of file, -1 on an error.
ssize_t ReadSome(int fd, char* buffer, size_t size);

class TerminalSession {
  public:
    TerminalSession() = default;
    ~TerminalSession();
    TerminalSession(const TerminalSession&) = delete;
    TerminalSession& operator=(const TerminalSession&) = delete;

    // Puts a terminal on standard input into raw input mode (output processing is left alone),
    // installs the exit-signal handlers, and opens the window-change pipe. False with errno
    // when the pipe or a handler cannot be set up.
    bool Start();

    bool InputIsTerminal() const { return inputIsTerminal_; }
    // Readable once the window size has changed; DrainWindowChanges() then empties it.
    int WindowChangeFd() const;
    bool DrainWindowChanges();

  private:
    bool inputIsTerminal_ = false;
};
