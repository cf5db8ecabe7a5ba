#include "terminal_posix.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "rendezvous.h"

namespace conproxy {

namespace {

// Process-wide, because the signal handlers restore and clean up from here.
struct termios savedMode;
volatile sig_atomic_t modeSaved = 0;

// Requests to end, and faults: a client that shrinks the region under us, or memory running
// out (abort), must not leave the user's terminal raw or our names behind either.
constexpr int kExitSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGBUS, SIGSEGV, SIGABRT, SIGFPE, SIGILL};

void RestoreTerminal() {
    if (modeSaved) {
        tcsetattr(STDIN_FILENO, TCSANOW, &savedMode);
    }
}

void OnExitSignal(int signalNumber) {
    RestoreTerminal();
    RemoveCreatedNames();
    // Ends the process as the signal would have, so the parent sees the real cause.
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

bool Install(int signalNumber, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return sigaction(signalNumber, &action, nullptr) == 0;
}

}  // namespace

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

ssize_t ReadSome(int fd, char* buffer, size_t size) {
    for (;;) {
        const ssize_t got = read(fd, buffer, size);
        if (got >= 0 || errno != EINTR) {
            return got;
        }
    }
}

bool TerminalSession::Start() {
    for (int signalNumber : kExitSignals) {
        if (!Install(signalNumber, OnExitSignal)) {
            return false;
        }
    }
    // A reader that went away makes a write fail, as it would on Windows, instead of ending the
    // server without its clean-up.
    if (signal(SIGPIPE, SIG_IGN) == SIG_ERR) {
        return false;
    }
    struct termios mode {};
    inputIsTerminal_ = tcgetattr(STDIN_FILENO, &mode) == 0;
    if (!inputIsTerminal_) {
        return true;
    }
    savedMode = mode;
    modeSaved = 1;
    // Keys arrive one by one and unchanged, as console input records need them; output
    // processing stays as the terminal had it.
    mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    mode.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR | IGNCR);
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &mode) != 0) {
        modeSaved = 0;
        return false;
    }
    return true;
}

TerminalSession::~TerminalSession() {
    RestoreTerminal();
    modeSaved = 0;
}

}  // namespace conproxy
