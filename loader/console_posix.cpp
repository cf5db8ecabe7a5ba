// The console on POSIX systems: texts go from Windows-1251 to the locale's character set with
// iconv (UTF-8 where the locale is plain ASCII), and the key wait reads the controlling terminal
// in non-canonical mode, so it works with standard input redirected and never waits without one.
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "console.h"
#include "console_texts.h"
#include "ending_signals_posix.h"
#include "shown_text.h"

namespace portboot {

const bool kHelpOptions = true;

// Set and not empty: error exits do not wait for a key, also in a terminal.
constexpr char kNoKeyWaitVariable[] = "PORTBOOT_NO_KEY_WAIT";

namespace {

constexpr std::size_t kRedirectedBufferSize = 4096;
constexpr const char* kTextCharset = "CP1251";
constexpr const char* kFallbackCharset = "UTF-8";

// One conversion with iconv; false when the charset is unknown or cannot hold the text.
bool ConvertWith(const char* toCharset, const char* from, std::size_t length, std::string& out) {
    iconv_t cd = iconv_open(toCharset, kTextCharset);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return false;
    }
    // A Windows-1251 byte never grows beyond four bytes in any charset we meet.
    out.assign(length * 4 + 1, '\0');
    char* in = const_cast<char*>(from);
    std::size_t inLeft = length;
    char* outPtr = &out[0];
    std::size_t outLeft = out.size() - 1;
    const std::size_t done = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (done == static_cast<std::size_t>(-1)) {
        return false;
    }
    out.resize(out.size() - 1 - outLeft);
    return true;
}

// While it lives, the ending signals wait blocked and are read from a descriptor beside the
// terminal's, so the key wait itself can put the terminal back before the signal ends the
// program; the mask it replaced comes back when it goes. A signal ignored by whoever started the
// program stays ignored. (A handler would need the terminal's state in a global.)
class EndingSignals {
  public:
    EndingSignals() {
        sigemptyset(&set_);
        ForEachEndingSignal([this](int signalNumber) { Add(signalNumber); });
        sigprocmask(SIG_BLOCK, &set_, &before_);
        fd_ = signalfd(-1, &set_, SFD_CLOEXEC | SFD_NONBLOCK);
    }
    ~EndingSignals() {
        if (fd_ >= 0) {
            close(fd_);
        }
        sigprocmask(SIG_SETMASK, &before_, nullptr);
    }
    EndingSignals(const EndingSignals&) = delete;
    EndingSignals& operator=(const EndingSignals&) = delete;

    int Fd() const { return fd_; }
    // The signal that has come, taken from the queue; 0 when none.
    int Take() const {
        struct signalfd_siginfo info;
        ssize_t got;
        do {
            got = read(fd_, &info, sizeof info);
        } while (got < 0 && errno == EINTR);
        return got == static_cast<ssize_t>(sizeof info) ? static_cast<int>(info.ssi_signo) : 0;
    }

  private:
    void Add(int signalNumber) {
        struct sigaction current {};
        if (sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
            sigaddset(&set_, signalNumber);
        }
    }

    sigset_t set_;
    sigset_t before_;
    int fd_ = -1;
};

// Where a key is read from, and the signal that ended the wait instead, if one did.
struct KeyInput {
    int tty;
    const EndingSignals& signals;
    int endedBy = 0;
};

// The rest of a key arrives with its first byte; a byte later than this is a key of its own.
constexpr int kKeyGapMs = 30;
// No key is longer; a flood of input ends the wait without being swallowed whole.
constexpr int kLongestKeyBytes = 16;
constexpr unsigned char kEscape = 0x1B;

// Waits up to timeoutMs (-1: for ever) for the terminal; false on time-out, or when an ending
// signal came first (then noted in the input).
bool InputBeforeTimeOutOrSignal(KeyInput& input, int timeoutMs) {
    struct pollfd p[2] = {{input.tty, POLLIN, 0}, {input.signals.Fd(), POLLIN, 0}};
    const nfds_t count = input.signals.Fd() >= 0 ? 2 : 1;
    int ready;
    do {
        ready = poll(p, count, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) {
        return false;
    }
    if (count == 2 && (p[1].revents & POLLIN) != 0) {
        input.endedBy = input.signals.Take();
        if (input.endedBy != 0) {
            return false;
        }
    }
    return p[0].revents != 0;
}

bool ReadByte(int fd, unsigned char& byte) {
    ssize_t got;
    do {
        got = read(fd, &byte, 1);
    } while (got < 0 && errno == EINTR);
    return got == 1;
}

// One more byte of the key begun, if it follows at once.
bool NextKeyByte(KeyInput& input, unsigned char& byte) {
    return InputBeforeTimeOutOrSignal(input, kKeyGapMs) && ReadByte(input.tty, byte);
}

// How many bytes follow a UTF-8 lead byte.
int ContinuationBytes(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF7) {
        return 3;
    }
    if (lead >= 0xE0) {
        return lead <= 0xEF ? 2 : 0;
    }
    return lead >= 0xC0 ? 1 : 0;
}

// Reads one key, byte by byte, so what was typed after it stays in the terminal: a plain byte, a
// letter of several UTF-8 bytes, Esc alone, ESC [ ... final byte (CSI), ESC O x (SS3), or Alt
// with a key (ESC and that key).
void ReadOneKey(KeyInput& input) {
    unsigned char byte = 0;
    if (!InputBeforeTimeOutOrSignal(input, -1) || !ReadByte(input.tty, byte)) {
        return;
    }
    int taken = 1;
    if (byte == kEscape) {
        if (!NextKeyByte(input, byte)) {
            return;  // Esc alone
        }
        ++taken;
        if (byte == '[') {
            // Parameters and intermediates up to the final byte, 0x40..0x7E.
            while (taken < kLongestKeyBytes && NextKeyByte(input, byte)) {
                ++taken;
                if (byte >= 0x40 && byte <= 0x7E) {
                    return;
                }
            }
            return;
        }
        if (byte == 'O') {
            NextKeyByte(input, byte);
            return;
        }
    }
    for (int more = ContinuationBytes(byte); more > 0 && NextKeyByte(input, byte); --more) {
    }
}

// Writes all of it to the terminal, over EINTR and short writes; a terminal that refuses is left
// as it is (the prompt is a courtesy).
void WriteToTerminal(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

// The prompt on the terminal itself, for as long as it lives: not in standard output, which may
// be a file, and gone again afterwards, so the screen ends as the transcript does. It is taken
// back by as many backspaces as it has characters and an erase to the end of the line, which
// leaves the cursor where the prompt began, also in the middle of a line.
class KeyPrompt {
  public:
    KeyPrompt(int tty, const char* prompt) : tty_(tty) {
        for (const char* p = prompt; *p != '\0'; ++p) {
            // One character per UTF-8 lead byte (or per byte of a single-byte charset).
            if ((static_cast<unsigned char>(*p) & 0xC0) != 0x80) {
                erase_.push_back('\b');
            }
        }
        if (!erase_.empty()) {
            erase_ += "\x1B[K";
            WriteToTerminal(tty_, prompt);
        }
    }
    ~KeyPrompt() { WriteToTerminal(tty_, erase_); }
    KeyPrompt(const KeyPrompt&) = delete;
    KeyPrompt& operator=(const KeyPrompt&) = delete;

  private:
    int tty_;
    std::string erase_;
};

}  // namespace

bool SetUpConsoleOutput() {
    std::setlocale(LC_ALL, "");
    // On a terminal each label must be visible before its command byte goes out; redirected
    // output is collected.
    if (isatty(STDOUT_FILENO)) {
        std::setvbuf(stdout, nullptr, _IONBF, 0);
        return true;
    }
    std::setvbuf(stdout, nullptr, _IOFBF, kRedirectedBufferSize);
    return false;
}

std::string ConvertToConsole(const char* bytes, std::size_t length) {
    const char* codeset = nl_langinfo(CODESET);
    // The C locale says "ANSI_X3.4-1968", which has no Cyrillic at all.
    if (codeset == nullptr || *codeset == '\0' || std::strcmp(codeset, "ANSI_X3.4-1968") == 0) {
        codeset = kFallbackCharset;
    }
    std::string converted;
    if (!ConvertWith(codeset, bytes, length, converted) &&
        !ConvertWith(kFallbackCharset, bytes, length, converted)) {
        return std::string(bytes, length);  // no iconv table at all: the raw bytes are better
    }
    return converted;
}

// A name is not the program's own text: it reaches the terminal escaped, never converted.
std::string NameToConsole(const std::string& name) {
    return ShownText(name);
}

TextBytes ConsolePlatformText(Text id) {
    return LinuxText(id);
}

void WaitForKey(const char* prompt) {
    // Unattended runs in a terminal (a script with its output in a file) must not hang here.
    const char* noWait = std::getenv(kNoKeyWaitVariable);
    if (noWait != nullptr && *noWait != '\0') {
        return;
    }
    // The terminal, not standard input: the wait must work with input redirected, and there is
    // nothing to wait for without a controlling terminal (cron, CI, a service).
    const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    // Redirected output is held in its buffer until exit; the person asked for a key must see
    // why first.
    std::fflush(stdout);
    // In the background of its terminal the loader has no keyboard, and touching the terminal
    // would stop it (SIGTTOU, SIGTTIN).
    struct termios saved;
    if (tcgetpgrp(fd) != getpgrp() || tcgetattr(fd, &saved) != 0) {
        close(fd);
        return;
    }
    struct termios raw = saved;
    // No line input, no echo, and Ctrl+C arrives as a key instead of a signal.
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;

    // Flow control off as well: Ctrl+S and Ctrl+Q are keys like any other here, and a Ctrl+S
    // must not leave the terminal's output stopped (turning IXON off also restarts output that
    // an earlier Ctrl+S stopped).
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF);

    int endedBy = 0;
    {
        // A signal sent from elsewhere must not leave the terminal without echo and line input.
        const EndingSignals signals;
        // Sent to the background by job control while waiting: the read fails instead of
        // stopping the loader.
        void (*oldTtou)(int) = std::signal(SIGTTOU, SIG_IGN);
        void (*oldTtin)(int) = std::signal(SIGTTIN, SIG_IGN);
        if (tcsetattr(fd, TCSANOW, &raw) == 0) {
            const KeyPrompt shown(fd, prompt);
            KeyInput input{fd, signals};
            ReadOneKey(input);
            endedBy = input.endedBy;
        }
        tcsetattr(fd, TCSANOW, &saved);
        std::signal(SIGTTOU, oldTtou);
        std::signal(SIGTTIN, oldTtin);
    }
    if (endedBy != 0) {
        // The terminal is as it was: the signal now does what it would have done.
        close(fd);
        std::raise(endedBy);
        return;
    }
    close(fd);
}

std::size_t ConsoleColumns() {
    struct winsize size {};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) {
        return 0;
    }
    return size.ws_col;
}

void GetCurrentDir(char* buffer, std::size_t size) {
    if (size == 0) {
        return;
    }
    if (getcwd(buffer, size) == nullptr) {
        buffer[0] = '\0';
    }
}

}  // namespace portboot
