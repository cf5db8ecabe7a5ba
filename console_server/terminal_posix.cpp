#include "terminal_posix.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "rendezvous.h"

namespace {

// Process-wide, because the signal handlers restore and clean up from here.
struct termios savedMode;
volatile sig_atomic_t modeSaved = 0;
int windowPipe[2] = {-1, -1};

constexpr int kExitSignals[] = {SIGTERM, SIGHUP, SIGINT};

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

void OnWindowChange(int) {
    const int saved = errno;
    const char byte = 0;
    // A full pipe already says "changed"; the byte may be dropped.
    (void)!write(windowPipe[1], &byte, 1);
    errno = saved;
}

bool SetCloseOnExecNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 &&
           fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
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
    if (pipe(windowPipe) != 0) {
        return false;
    }
    if (!SetCloseOnExecNonBlocking(windowPipe[0]) || !SetCloseOnExecNonBlocking(windowPipe[1])) {
        return false;
    }
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
    if (!Install(SIGWINCH, OnWindowChange)) {
        return false;
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
    if (inputIsTerminal_) {
        signal(SIGWINCH, SIG_DFL);
    }
    for (int& fd : windowPipe) {
        if (fd >= 0) {
            close(fd);
            fd = -1;
        }
    }
}

int TerminalSession::WindowChangeFd() const {
    return windowPipe[0];
}

bool TerminalSession::DrainWindowChanges() {
    bool changed = false;
    char bytes[64];
    while (read(windowPipe[0], bytes, sizeof bytes) > 0) {
        changed = true;
    }
    return changed;
}
