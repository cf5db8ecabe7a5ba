// ComPort on Linux: a non-blocking descriptor with poll() against a deadline. A write queues what
// the driver takes within the stall limit; the driver's drain is watched through TIOCOUTQ, and
// since a pseudo-terminal reports no queue at all, the line clock sets when a status wait ends.
// The port digit n is /dev/ttyS(n-1); a path names its device itself. A port that another program
// holds, that a live process has locked (a LCK.. file) or that is this program's own terminal is
// refused; TIOCEXCL and flock keep later openers out. The line's settings from before the open
// are put back when it closes, and also when a signal ends the program while it is open.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "com_port.h"
#include "deadline.h"
#include "ending_signals_posix.h"
#include "line_speed_linux.h"
#include "port_posix.h"

namespace portboot {

const bool kPortPathOption = true;

// The line as it was before the open, put back when it closes.
struct SavedLine {
    bool hasSettings = false;
    struct termios settings {};
    // Another program made it exclusive before us (root opens such a line all the same): its
    // exclusive use is not ours to drop.
    bool wasExclusive = false;
};

namespace {

using Clock = std::chrono::steady_clock;

speed_t StandardSpeed(std::uint32_t baud) {
    switch (baud) {
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        case 460800:
            return B460800;
        case 500000:
            return B500000;
        case 576000:
            return B576000;
        case 921600:
            return B921600;
        case 1000000:
            return B1000000;
        default:
            return B0;
    }
}

// Waits for `events` on fd until the deadline. >0 ready, 0 time-out, -1 error (errno); a line
// that has hung up is an error (EIO), so no caller spins on it until its deadline.
int WaitFor(int fd, short events, const Deadline& deadline) {
    for (;;) {
        struct pollfd p = {fd, events, 0};
        const int ready = poll(&p, 1, deadline.RemainingMs());
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready > 0 && (p.revents & events) == 0) {
            errno = (p.revents & POLLNVAL) != 0 ? EBADF : EIO;
            return -1;
        }
        if (ready > 0 && deadline.Expired()) {
            return 0;  // ready, but no time left for it: the caller takes what it had
        }
        return ready;
    }
}

// After a read of 0 bytes: a line that is still readable has reached its end (hung up).
bool HungUp(int fd) {
    struct pollfd p = {fd, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

// Queues as much of the block as the driver takes before it stalls for stallLimitMs, over EINTR
// and short writes; each part goes on the line clock when it is taken. The count queued, or -1
// when the first write fails for real.
int WriteUntil(int fd, const std::uint8_t* data, std::uint32_t count, std::uint32_t stallLimitMs,
               LineClock& line) {
    std::uint32_t done = 0;
    Deadline deadline = Deadline::AfterMs(stallLimitMs);
    while (done < count) {
        const Clock::time_point issued = Clock::now();
        const ssize_t n = write(fd, data + done, count - done);
        if (n > 0) {
            line.Add(issued, static_cast<std::uint64_t>(n));
            done += static_cast<std::uint32_t>(n);
            deadline = Deadline::AfterMs(stallLimitMs);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // What went out is reported; the error comes back on the next call.
            return done > 0 ? static_cast<int>(done) : -1;
        }
        const int ready = WaitFor(fd, POLLOUT, deadline);
        if (ready == 0) {
            // The driver may have made room while this process was not running: one more try
            // that does not wait, before the stall counts.
            const ssize_t late = write(fd, data + done, count - done);
            if (late <= 0) {
                break;
            }
            line.Add(Clock::now(), static_cast<std::uint64_t>(late));
            done += static_cast<std::uint32_t>(late);
            deadline = Deadline::AfterMs(stallLimitMs);
        }
        if (ready < 0) {
            return done > 0 ? static_cast<int>(done) : -1;
        }
    }
    return static_cast<int>(done);
}

// After a wait that timed out: what came in time but was not looked at, since the process woke
// late (a busy machine, a stop and continue). Never waits.
int ReadWaiting(int fd, std::uint8_t* data, std::uint32_t count) {
    ssize_t n;
    do {
        n = read(fd, data, count);
    } while (n < 0 && errno == EINTR);
    return n > 0 ? static_cast<int>(n) : 0;
}

// What is waiting, else the first bytes to arrive before the deadline, else 0.
int ReadUntil(int fd, std::uint8_t* data, std::uint32_t count, const Deadline& deadline) {
    for (;;) {
        const ssize_t n = read(fd, data, count);
        if (n > 0) {
            return static_cast<int>(n);
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return -1;
        }
        // A tty read with VMIN 0 says 0 for "nothing yet"; a hung-up line says 0 for good.
        if (n == 0 && HungUp(fd)) {
            errno = EIO;
            return -1;
        }
        const int ready = WaitFor(fd, POLLIN, deadline);
        if (ready == 0) {
            return ReadWaiting(fd, data, count);
        }
        if (ready < 0) {
            return -1;
        }
    }
}

// Bytes the driver holds that have not gone out yet. A pseudo-terminal always says 0; a line
// that cannot say (hung up) counts as empty, and the read that follows reports it.
std::uint64_t OutputQueued(int fd) {
    int n = 0;
    if (ioctl(fd, TIOCOUTQ, &n) != 0 || n < 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(n);
}

// How often a draining line is looked at when its bytes would already be out.
constexpr std::chrono::milliseconds kDrainPoll{1};

constexpr std::uint32_t kMaxBlock = INT_MAX;

// Raw 8N1 at the speed, no flow control of any kind, DTR and RTS raised.
bool SetLine(int fd, std::uint32_t baudRate) {
    struct termios tio;
    if (tcgetattr(fd, &tio) != 0) {
        return false;
    }
    cfmakeraw(&tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    // One byte at least, no inter-byte timer: with O_NONBLOCK an empty line says EAGAIN and
    // poll() does the waiting.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (baudRate == 0) {
        errno = EINVAL;  // B0 would hang the line up
        return false;
    }
    const speed_t standard = StandardSpeed(baudRate);
    if (standard != B0) {
        cfsetispeed(&tio, standard);
        cfsetospeed(&tio, standard);
    }
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        return false;
    }
    if (standard == B0 && !SetCustomLineSpeed(fd, baudRate)) {
        return false;
    }
    // A pseudo-terminal or a line without modem control answers ENOTTY or EINVAL: nothing to
    // raise there.
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (ioctl(fd, TIOCMBIS, &lines) != 0 && errno != ENOTTY && errno != EINVAL) {
        return false;
    }
    return true;
}

// Puts the line's settings from before the open back (if they were read), drops the exclusive
// use this program set, and closes the line, which releases its flock too; errno stays as it
// was. Async-signal-safe.
void RestoreLineAndRelease(int fd, const SavedLine& line) {
    const int error = errno;
    if (line.hasSettings) {
        (void)tcsetattr(fd, TCSANOW, &line.settings);
    }
    if (!line.wasExclusive) {
        (void)ioctl(fd, TIOCNXCL);
    }
    close(fd);
    errno = error;
}

// The open port as a signal handler must see it: an ending signal during a load gives the line
// back as it was and then ends the program as it would have. One port at a time is guarded (the
// program opens one); the handlers are installed while it is open and the old ones put back on
// close. Every change is made with the ending signals blocked.
struct GuardedLine {
    volatile std::sig_atomic_t fd = -1;
    SavedLine line;
    struct sigaction before[NSIG];
    sigset_t installed;
};
GuardedLine guarded;

extern "C" void GiveLineBackAndEnd(int signalNumber) {
    if (guarded.fd >= 0) {
        RestoreLineAndRelease(guarded.fd, guarded.line);
        guarded.fd = -1;
    }
    // Blocked while its handler runs: the signal ends the program once the handler returns.
    (void)sigaction(signalNumber, &guarded.before[signalNumber], nullptr);
    (void)raise(signalNumber);
}

// Blocks the ending signals for its lifetime.
class EndingSignalsHeld {
  public:
    EndingSignalsHeld() {
        sigset_t set;
        sigemptyset(&set);
        ForEachEndingSignal([&set](int signalNumber) { sigaddset(&set, signalNumber); });
        pthread_sigmask(SIG_BLOCK, &set, &before_);
    }
    ~EndingSignalsHeld() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
    EndingSignalsHeld(const EndingSignalsHeld&) = delete;
    EndingSignalsHeld& operator=(const EndingSignalsHeld&) = delete;

  private:
    sigset_t before_;
};

// Guards the port from now on, if no other is guarded, to be given back as `line` says; a signal
// ignored by whoever started the program stays ignored.
void GuardLine(int fd, const SavedLine& line) {
    const EndingSignalsHeld held;
    if (guarded.fd >= 0) {
        return;
    }
    sigemptyset(&guarded.installed);
    struct sigaction action {};
    action.sa_handler = GiveLineBackAndEnd;
    sigfillset(&action.sa_mask);
    ForEachEndingSignal([&action](int signalNumber) {
        struct sigaction& before = guarded.before[signalNumber];
        if (sigaction(signalNumber, nullptr, &before) == 0 && before.sa_handler != SIG_IGN &&
            sigaction(signalNumber, &action, nullptr) == 0) {
            sigaddset(&guarded.installed, signalNumber);
        }
    });
    guarded.line = line;
    guarded.fd = fd;
}

// What a signal puts back from now on.
void GuardSettings(int fd, const SavedLine& line) {
    const EndingSignalsHeld held;
    if (guarded.fd == fd) {
        guarded.line = line;
    }
}

// Gives the line back and closes it, then puts the old handlers back if it was the port guarded.
// An ending signal that comes meanwhile waits until the line is given back.
void ReleaseGuardedLine(int fd, const SavedLine& line) {
    const EndingSignalsHeld held;
    RestoreLineAndRelease(fd, line);
    if (guarded.fd != fd) {
        return;
    }
    guarded.fd = -1;
    ForEachEndingSignal([](int signalNumber) {
        if (sigismember(&guarded.installed, signalNumber) == 1) {
            (void)sigaction(signalNumber, &guarded.before[signalNumber], nullptr);
        }
    });
}

// The terminal this program runs in is no line to a device: its keys would be read as statuses,
// and the image would go to the screen.
bool IsOwnTerminal(int fd) {
    const pid_t session = tcgetsid(fd);
    return session >= 0 && session == getsid(0);
}

// A port that a live process has locked is not opened at all: the open alone would raise DTR on
// a line another program is using. errno EBUSY then.
bool IsLocked(const std::string& path) {
    LockHolder holder;
    if (!FindLockHolder(path, holder)) {
        return false;
    }
    errno = EBUSY;
    return true;
}

// What must not become the port, with errno EBUSY then; the reason is kept for the note.
PortRefusal RefusalOf(int fd) {
    struct stat info;
    PortRefusal refusal = PortRefusal::None;
    if (IsOwnTerminal(fd)) {
        refusal = PortRefusal::OwnTerminal;
    } else if (isatty(fd) && fstat(fd, &info) == 0 && !FindHolders(info.st_rdev).empty()) {
        // Windows opens a port for one program only; a terminal program left open on it would
        // read the device's answers.
        refusal = PortRefusal::Held;
    }
    if (refusal != PortRefusal::None) {
        errno = EBUSY;
    }
    return refusal;
}

}  // namespace

bool ComPort::Open(const PortName& port, std::uint32_t baudRate) {
    if (IsOpen()) {
        errno = EBUSY;
        return false;
    }
    refusal_ = PortRefusal::None;
    std::string path;
    if (!DevicePath(port, path)) {
        errno = ENOENT;
        return false;
    }
    if (IsLocked(path)) {
        refusal_ = PortRefusal::Locked;
        return false;
    }
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    auto before = std::make_shared<SavedLine>();
    int exclusive = 0;
    before->wasExclusive = ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
    GuardLine(fd, *before);
    // TIOCEXCL keeps other users out, but not root; the flock, held until the port closes, keeps
    // a second loader (and any program that flocks its ports) out either way. A device that is no
    // tty fails in tcgetattr, which reports it.
    (void)ioctl(fd, TIOCEXCL);
    refusal_ = RefusalOf(fd);
    bool refused = refusal_ != PortRefusal::None;
    if (!refused && flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            // Another program's flock is a port in use like any other: EBUSY, as Windows says.
            refusal_ = PortRefusal::Held;
            errno = EBUSY;
        }
        refused = true;
    }
    if (refused) {
        ReleaseGuardedLine(fd, *before);
        return false;
    }
    before->hasSettings = tcgetattr(fd, &before->settings) == 0;
    GuardSettings(fd, *before);
    if (!SetLine(fd, baudRate)) {
        ReleaseGuardedLine(fd, *before);
        return false;
    }
    savedLine_ = std::move(before);
    handle_ = fd;
    line_ = LineClock();
    line_.SetSpeed(baudRate);
    return true;
}

bool ComPort::DiscardInput() {
    if (!IsOpen()) {
        errno = EBADF;
        return false;
    }
    return tcflush(static_cast<int>(handle_), TCIFLUSH) == 0;
}

int ComPort::Write(const std::uint8_t* data, std::uint32_t count, std::uint32_t stallLimitMs) {
    if (!IsOpen()) {
        errno = EBADF;
        return -1;
    }
    return WriteUntil(static_cast<int>(handle_), data, std::min(count, kMaxBlock), stallLimitMs,
                      line_);
}

bool ComPort::WaitForLine(std::uint32_t stallLimitMs) {
    if (!IsOpen()) {
        errno = EBADF;
        return false;
    }
    const int fd = static_cast<int>(handle_);
    std::uint64_t queued = OutputQueued(fd);
    // What the driver holds needs its line time at most; a line that takes longer than that and
    // the stall limit is stuck (a lost adapter, a flow control nobody releases).
    const Deadline bound = Deadline::At(Clock::now() + line_.TimeFor(queued), stallLimitMs);
    while (queued > 0) {
        if (bound.Expired()) {
            errno = WriteTimeoutError();
            return false;
        }
        std::this_thread::sleep_for(
            std::min<Clock::duration>(std::max<Clock::duration>(line_.TimeFor(queued), kDrainPoll),
                                      bound.When() - Clock::now()));
        queued = OutputQueued(fd);
    }
    return true;
}

void ComPort::KeepPace(std::uint32_t leadMs) {
    std::this_thread::sleep_until(line_.IdleAt() - std::chrono::milliseconds(leadMs));
}

ReadResult ComPort::ReadStatus(std::uint8_t& status, std::uint32_t waitMs) {
    if (!IsOpen()) {
        errno = EBADF;
        return ReadResult::Failed;
    }
    const Deadline deadline = Deadline::At(std::max(Clock::now(), line_.IdleAt()), waitMs);
    const int n = ReadUntil(static_cast<int>(handle_), &status, 1, deadline);
    if (n < 0) {
        return ReadResult::Failed;
    }
    return n == 1 ? ReadResult::Received : ReadResult::TimedOut;
}

void ComPort::Close() {
    if (!IsOpen()) {
        return;
    }
    // Linux releases the descriptor even when close() reports an error.
    ReleaseGuardedLine(static_cast<int>(handle_), savedLine_ ? *savedLine_ : SavedLine{});
    savedLine_.reset();
    handle_ = kInvalidPortHandle;
}

int LastSystemError() {
    return errno;
}

int WriteTimeoutError() {
    return ETIMEDOUT;
}

}  // namespace portboot
