// The POSIX terminal underneath the console: raw input mode switched on at start and restored
// on every way out (object end; every signal whose default ends the process, the terminal's own
// Ctrl+C and Ctrl+\ among them, which then run the clean-up registered by the layer above and
// end the process by that signal: SetEndingCleanUp in console.h), and the EINTR and short-write
// loops for descriptors.
#pragma once

#include <cstddef>

#include <sys/types.h>

namespace conproxy {

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

    // Puts a terminal on standard input into raw input mode (output processing is left alone)
    // and installs the exit-signal handlers. False with errno when a handler cannot be set up.
    bool Start();

    bool InputIsTerminal() const { return inputIsTerminal_; }

  private:
    bool inputIsTerminal_ = false;
};

}  // namespace conproxy
