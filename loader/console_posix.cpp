// The console on POSIX systems: texts go from Windows-1251 to the locale's character set with
// iconv (UTF-8 where the locale is plain ASCII), and the key wait reads the controlling terminal
// in non-canonical mode, so it works with standard input redirected and never waits without one.
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "console.h"
#include "console_texts.h"

namespace portboot {

// The directory and the file name are joined with '/' here.
constexpr char kInfoFormat[] =
    // \n
    "\n"
    // Файл %s/%s\n
    "\xD4\xE0\xE9\xEB %s/%s\n"
    // Порт %s:%u\n
    "\xCF\xEE\xF0\xF2 %s:%u\n"
    // Функция %s\n
    "\xD4\xF3\xED\xEA\xF6\xE8\xFF %s\n"
    // Точка входа %u\n
    "\xD2\xEE\xF7\xEA\xE0 \xE2\xF5\xEE\xE4\xE0 %u\n"
    // Длина файла %u
    "\xC4\xEB\xE8\xED\xE0 \xF4\xE0\xE9\xEB\xE0 %u";

// How a port is named here, and where the exit statuses are; printed under the usage text.
constexpr char kUsageNote[] =
    // \n
    "\n"
    //  В Linux порт можно назвать путём к устройству: /dev/ttyUSB0,\n
    " \xC2 Linux \xEF\xEE\xF0\xF2 \xEC\xEE\xE6\xED\xEE \xED\xE0\xE7\xE2\xE0\xF2\xFC \xEF\xF3"
    "\xF2\xB8\xEC \xEA \xF3\xF1\xF2\xF0\xEE\xE9\xF1\xF2\xE2\xF3: /dev/ttyUSB0,\n"
    //  /dev/serial/by-id/...; COMn - это /dev/ttyS(n-1).\n
    " /dev/serial/by-id/...; COMn - \xFD\xF2\xEE /dev/ttyS(n-1).\n"
    //  Коды завершения перечислены в man portboot.\n
    " \xCA\xEE\xE4\xFB \xE7\xE0\xE2\xE5\xF0\xF8\xE5\xED\xE8\xFF \xEF\xE5\xF0\xE5\xF7\xE8\xF1"
    "\xEB\xE5\xED\xFB \xE2 man portboot.\n";

const bool kHelpOptions = true;

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

// The saved terminal mode, for the signal handler that puts it back if the wait is killed.
int keyWaitFd = -1;
struct termios keyWaitSaved;

void RestoreTerminalAndDie(int signalNumber) {
    if (keyWaitFd >= 0) {
        tcsetattr(keyWaitFd, TCSANOW, &keyWaitSaved);
    }
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

// Every signal that ends a process by default and comes from outside it (the faults a process
// causes itself are not among them). The real-time signals follow.
constexpr int kEndingSignals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGTERM,   SIGUSR1,
                                  SIGUSR2, SIGALRM, SIGPIPE, SIGVTALRM, SIGPROF,
                                  SIGXCPU, SIGXFSZ, SIGIO,   SIGPWR,    SIGSTKFLT};

// Puts the key wait's handler on every ending signal while it lives, and the handlers it
// replaced back when it goes. A signal ignored by whoever started the program stays ignored.
class EndingSignalHandlers {
  public:
    EndingSignalHandlers() {
        struct sigaction action {};
        action.sa_handler = RestoreTerminalAndDie;
        sigemptyset(&action.sa_mask);
        for (int signalNumber : kEndingSignals) {
            Replace(signalNumber, action);
        }
        for (int signalNumber = SIGRTMIN; signalNumber <= SIGRTMAX; ++signalNumber) {
            Replace(signalNumber, action);
        }
    }
    ~EndingSignalHandlers() {
        for (const Saved& saved : saved_) {
            sigaction(saved.number, &saved.action, nullptr);
        }
    }
    EndingSignalHandlers(const EndingSignalHandlers&) = delete;
    EndingSignalHandlers& operator=(const EndingSignalHandlers&) = delete;

  private:
    struct Saved {
        int number;
        struct sigaction action;
    };
    void Replace(int signalNumber, const struct sigaction& action) {
        Saved saved{signalNumber, {}};
        if (sigaction(signalNumber, nullptr, &saved.action) != 0 ||
            saved.action.sa_handler == SIG_IGN) {
            return;
        }
        sigaction(signalNumber, &action, nullptr);
        saved_.push_back(saved);
    }

    std::vector<Saved> saved_;
};

// The rest of a key arrives with its first byte; a byte later than this is a key of its own.
constexpr int kKeyGapMs = 30;
// No key is longer; a flood of input ends the wait without being swallowed whole.
constexpr int kLongestKeyBytes = 16;
constexpr unsigned char kEscape = 0x1B;

// One more byte of the key begun, if it follows at once.
bool NextKeyByte(int fd, unsigned char& byte) {
    struct pollfd p = {fd, POLLIN, 0};
    int ready;
    do {
        ready = poll(&p, 1, kKeyGapMs);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) {
        return false;
    }
    ssize_t got;
    do {
        got = read(fd, &byte, 1);
    } while (got < 0 && errno == EINTR);
    return got == 1;
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
void ReadOneKey(int fd) {
    unsigned char byte = 0;
    ssize_t got;
    do {
        got = read(fd, &byte, 1);
    } while (got < 0 && errno == EINTR);
    if (got != 1) {
        return;
    }
    int taken = 1;
    if (byte == kEscape) {
        if (!NextKeyByte(fd, byte)) {
            return;  // Esc alone
        }
        ++taken;
        if (byte == '[') {
            // Parameters and intermediates up to the final byte, 0x40..0x7E.
            while (taken < kLongestKeyBytes && NextKeyByte(fd, byte)) {
                ++taken;
                if (byte >= 0x40 && byte <= 0x7E) {
                    return;
                }
            }
            return;
        }
        if (byte == 'O') {
            NextKeyByte(fd, byte);
            return;
        }
    }
    for (int more = ContinuationBytes(byte); more > 0 && NextKeyByte(fd, byte); --more) {
    }
}

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

TextBytes ConsolePlatformText(Text id) {
    return id == Text::InfoFormat ? Bytes(kInfoFormat) : Bytes(kUsageNote);
}

void WaitForKey() {
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

    keyWaitFd = fd;
    keyWaitSaved = saved;
    {
        // A signal sent from elsewhere must not leave the terminal without echo and line input.
        const EndingSignalHandlers restoreOnSignal;
        // Sent to the background by job control while waiting: the read fails instead of
        // stopping the loader.
        void (*oldTtou)(int) = std::signal(SIGTTOU, SIG_IGN);
        void (*oldTtin)(int) = std::signal(SIGTTIN, SIG_IGN);
        if (tcsetattr(fd, TCSANOW, &raw) == 0) {
            ReadOneKey(fd);
            tcsetattr(fd, TCSANOW, &saved);
        }
        std::signal(SIGTTOU, oldTtou);
        std::signal(SIGTTIN, oldTtin);
    }
    keyWaitFd = -1;
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
