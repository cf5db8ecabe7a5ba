#include "terminal_posix.h"

#include <pthread.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "console.h"

namespace conproxy {

namespace {

constexpr cc_t kCtrlC = 0x03;
constexpr cc_t kCtrlBackslash = 0x1c;

// Process-wide, because the signal handlers restore, set again and clean up from here.
struct termios savedMode;
volatile sig_atomic_t modeSaved = 0;
struct termios rawMode;  // valid while modeSaved

// Registered by the layer that owns what else must go on the way out (the named objects).
void (*volatile endingCleanUp)() = nullptr;

bool SameMode(const struct termios& a, const struct termios& b) {
    if (a.c_iflag != b.c_iflag || a.c_oflag != b.c_oflag || a.c_cflag != b.c_cflag ||
        a.c_lflag != b.c_lflag) {
        return false;
    }
    for (size_t i = 0; i < NCCS; ++i) {
        if (a.c_cc[i] != b.c_cc[i]) {
            return false;
        }
    }
    return true;
}

// In the foreground the terminal is ours to give back. In the background it is only while our
// mode is still on it: a job the shell brought to the foreground since has a mode of its own,
// which ours must not replace.
bool TerminalStillOurs() {
    if (tcgetpgrp(STDIN_FILENO) == getpgrp()) {
        return true;
    }
    struct termios now {};
    return tcgetattr(STDIN_FILENO, &now) == 0 && SameMode(now, rawMode);
}

void RestoreTerminal() {
    if (!modeSaved || !TerminalStillOurs()) {
        return;
    }
    // From a background process group the call would stop us (SIGTTOU) in the middle of our
    // ending, and again after every continue; with the signal blocked it is simply done.
    sigset_t ttou, before;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    pthread_sigmask(SIG_BLOCK, &ttou, &before);
    tcsetattr(STDIN_FILENO, TCSANOW, &savedMode);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

}  // namespace

void EndBySignal(int signalNumber) {
    RestoreTerminal();
    if (void (*cleanUp)() = endingCleanUp) {
        cleanUp();
    }
    // Ends the process as the signal would have, so the parent sees the real cause.
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

// The kernel sends it as from us when our own write finds the reader gone.
bool IsOwnBrokenPipe(const siginfo_t* info) {
    return info != nullptr && info->si_code == SI_USER && info->si_pid == getpid();
}

// A stop hands the terminal back to the shell, which puts its own mode on it; when we are
// continued in the foreground, ours goes back on. Continued in the background, the terminal is
// another job's: the continue that brings us to the foreground sets it then.
bool TakeContinueSignal() {
    if (modeSaved && tcgetpgrp(STDIN_FILENO) == getpgrp()) {
        tcsetattr(STDIN_FILENO, TCSANOW, &rawMode);
    }
    return true;
}

void SetEndingCleanUp(void (*cleanUp)()) {
    endingCleanUp = cleanUp;
}

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
    struct termios mode {};
    inputIsTerminal_ = tcgetattr(STDIN_FILENO, &mode) == 0;
    if (!inputIsTerminal_) {
        return true;
    }
    savedMode = mode;
    // Keys arrive one by one and unchanged, as console input records need them; output
    // processing stays as the terminal had it. Ctrl+C and Ctrl+\ stay signals, as a Windows
    // console in its default mode turns them into the control event that ends the process
    // (never a key); Ctrl+Z is a key there, so it stops nothing here.
    mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
    mode.c_lflag |= ISIG;
    mode.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR | IGNCR);
    mode.c_cc[VINTR] = kCtrlC;
    mode.c_cc[VQUIT] = kCtrlBackslash;
    mode.c_cc[VSUSP] = _POSIX_VDISABLE;
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
    rawMode = mode;
    modeSaved = 1;
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
