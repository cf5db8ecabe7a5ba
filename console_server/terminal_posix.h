// The POSIX terminal underneath the console: raw input mode switched on at start and restored
// on every way out (object end; every signal whose default ends the process, the terminal's own
// Ctrl+C and Ctrl+\ among them: the signal table, signal_owners_posix.cpp, hands them to
// EndBySignal, which restores the mode, runs the clean-up registered by the layer above
// (SetEndingCleanUp in console.h) and ends the process by that signal), and the EINTR and
// short-write loops for descriptors.
#pragma once

#include <csignal>
#include <cstddef>

#include <sys/types.h>

namespace conproxy {

// Restores the terminal, runs the ending clean-up and ends the process by signalNumber, from
// its handler.
void EndBySignal(int signalNumber);
// SIGCONT: puts the raw input mode back on the terminal when we are in its foreground (the shell
// set its own while we were stopped). Always taken: a continue ends nothing.
bool TakeContinueSignal();
// A SIGPIPE our own write raised (it then only fails, as on Windows), not one sent to us.
bool IsOwnBrokenPipe(const siginfo_t* info);

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

    // Puts a terminal on standard input into raw input mode (output processing is left alone).
    // False with errno when the mode cannot be set.
    bool Start();

    bool InputIsTerminal() const { return inputIsTerminal_; }

  private:
    bool inputIsTerminal_ = false;
};

}  // namespace conproxy
