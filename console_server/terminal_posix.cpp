#include "terminal_posix.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "console.h"

namespace conproxy {

namespace {

constexpr cc_t kCtrlC = 0x03;
constexpr cc_t kCtrlBackslash = 0x1c;

// Process-wide, because the signal handlers restore and clean up from here.
struct termios savedMode;
volatile sig_atomic_t modeSaved = 0;

// Every signal whose default ends the process: requests to end (from a person, a limit, a
// timer, the terminal's Ctrl+C and Ctrl+\) and faults (a client that shrinks the region under
// us, memory running out). None may leave the user's terminal raw or our names behind. SIGIO is
// here too until the region's resize watch takes it over; the real-time signals come on top.
constexpr int kExitSignals[] = {SIGTERM, SIGHUP,  SIGINT,    SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM,
                                SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSTKFLT,
                                SIGSYS,  SIGTRAP, SIGBUS,    SIGSEGV, SIGABRT, SIGFPE,  SIGILL};

// Registered by the layer that owns what else must go on the way out (the named objects).
void (*volatile endingCleanUp)() = nullptr;

void RestoreTerminal() {
    if (modeSaved) {
        tcsetattr(STDIN_FILENO, TCSANOW, &savedMode);
    }
}

void OnExitSignal(int signalNumber) {
    RestoreTerminal();
    if (void (*cleanUp)() = endingCleanUp) {
        cleanUp();
    }
    // Ends the process as the signal would have, so the parent sees the real cause.
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

// SIGPIPE that our own write to a reader that went away raised (the kernel sends it as from
// us) only makes that write fail, as on Windows; one sent by another process ends us.
void OnBrokenPipe(int signalNumber, siginfo_t* info, void*) {
    if (info != nullptr && info->si_code == SI_USER && info->si_pid == getpid()) {
        return;
    }
    OnExitSignal(signalNumber);
}

bool Install(int signalNumber, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return sigaction(signalNumber, &action, nullptr) == 0;
}

bool InstallWithInfo(int signalNumber, void (*handler)(int, siginfo_t*, void*)) {
    struct sigaction action {};
    action.sa_sigaction = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_SIGINFO;
    return sigaction(signalNumber, &action, nullptr) == 0;
}

}  // namespace

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
    for (int signalNumber : kExitSignals) {
        if (!Install(signalNumber, OnExitSignal)) {
            return false;
        }
    }
    for (int signalNumber = SIGRTMIN; signalNumber <= SIGRTMAX; ++signalNumber) {
        if (!Install(signalNumber, OnExitSignal)) {
            return false;
        }
    }
    if (!InstallWithInfo(SIGPIPE, OnBrokenPipe)) {
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
