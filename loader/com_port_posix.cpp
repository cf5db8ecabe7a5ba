// ComPort on Linux: a non-blocking descriptor with poll() against a deadline gives the serial
// time-out rules (a read returns what is waiting, else the first bytes to arrive, else 0 at the
// read constant; a write returns what could be queued within the write constant). "COMn" is
// /dev/ttyS(n-1); any other name is a device path. TIOCEXCL and flock keep a second loader out.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "com_port.h"
#include "deadline.h"
#include "line_speed_linux.h"

namespace {

// "COM1".."COM9" name the first serial ports; COM0 names none, like on Windows.
bool DevicePath(const char* name, std::string& path) {
    if (std::strncmp(name, "COM", 3) == 0 && name[3] >= '0' && name[3] <= '9' && name[4] == '\0') {
        if (name[3] == '0') {
            return false;
        }
        path = "/dev/ttyS" + std::to_string(name[3] - '1');
        return true;
    }
    path = name;
    return true;
}

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

// Queues as much of the block as the deadline allows, over EINTR and short writes. The count
// queued, or -1 when the first write fails for real.
int WriteUntil(int fd, const std::uint8_t* data, std::uint32_t count, const Deadline& deadline) {
    std::uint32_t done = 0;
    while (done < count) {
        const ssize_t n = write(fd, data + done, count - done);
        if (n > 0) {
            done += static_cast<std::uint32_t>(n);
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
            break;
        }
        if (ready < 0) {
            return done > 0 ? static_cast<int>(done) : -1;
        }
    }
    return static_cast<int>(done);
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
            return 0;
        }
        if (ready < 0) {
            return -1;
        }
    }
}

Deadline ReadDeadline(const PortTimeouts& t, std::uint32_t count) {
    // Interval and multiplier at the maximum: the constant alone bounds the wait for the first
    // byte. Interval maximum with both totals 0: return at once with what is there.
    if (t.readInterval == kTimeoutMax && t.readMultiplier == kTimeoutMax) {
        return Deadline::AfterMs(t.readConstantMs);
    }
    const std::uint64_t total =
        static_cast<std::uint64_t>(t.readMultiplier) * count + t.readConstantMs;
    if (total == 0) {
        return t.readInterval == kTimeoutMax ? Deadline::AfterMs(0) : Deadline::Never();
    }
    return Deadline::AfterMs(total);
}

Deadline WriteDeadline(const PortTimeouts& t, std::uint32_t count) {
    const std::uint64_t total =
        static_cast<std::uint64_t>(t.writeMultiplier) * count + t.writeConstantMs;
    return total == 0 ? Deadline::Never() : Deadline::AfterMs(total);
}

constexpr std::uint32_t kMaxBlock = INT_MAX;

}  // namespace

void ComPort::Open(const char* name) {
    if (handle != kInvalidPortHandle) {
        return;
    }
    std::string path;
    if (!DevicePath(name, path)) {
        errno = ENOENT;
        return;
    }
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    // TIOCEXCL keeps other users out, but not root; the lock keeps a second loader out either
    // way. A non-tty fails TIOCEXCL here and tcgetattr in Configure, which reports it.
    (void)ioctl(fd, TIOCEXCL);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return;
    }
    handle = fd;
}

int ComPort::Write(const void* data, std::uint32_t count) {
    if (handle == kInvalidPortHandle) {
        errno = EBADF;
        return -1;
    }
    if (count > kMaxBlock) {
        count = kMaxBlock;
    }
    const int n = WriteUntil(static_cast<int>(handle), static_cast<const std::uint8_t*>(data),
                             count, WriteDeadline(timeouts_, count));
    if (n > 0) {
        bytesWritten += static_cast<std::uint32_t>(n);
    }
    return n;
}

int ComPort::Read(void* data, std::uint32_t count) {
    if (handle == kInvalidPortHandle) {
        errno = EBADF;
        return -1;
    }
    if (count > kMaxBlock) {
        count = kMaxBlock;
    }
    const int n = ReadUntil(static_cast<int>(handle), static_cast<std::uint8_t*>(data), count,
                            ReadDeadline(timeouts_, count));
    if (n > 0) {
        bytesRead += static_cast<std::uint32_t>(n);
    }
    return n;
}

bool ComPort::SetTimeouts(std::uint32_t readInterval, std::uint32_t readMultiplier,
                          std::uint32_t constant, std::uint32_t writeMultiplier) {
    if (handle == kInvalidPortHandle) {
        errno = EBADF;
        return false;
    }
    timeouts_.readInterval = readInterval;
    timeouts_.readMultiplier = readMultiplier;
    timeouts_.readConstantMs = constant;
    timeouts_.writeMultiplier = writeMultiplier;
    timeouts_.writeConstantMs = constant;
    return true;
}

bool ComPort::ApplyLineSettings(std::uint32_t baudRate, std::uint8_t parity, std::uint8_t byteSize,
                                std::uint8_t stopBits) {
    const int fd = static_cast<int>(handle);
    struct termios tio;
    if (tcgetattr(fd, &tio) != 0) {
        return false;
    }
    cfmakeraw(&tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD;
    switch (byteSize) {
        case 5:
            tio.c_cflag |= CS5;
            break;
        case 6:
            tio.c_cflag |= CS6;
            break;
        case 7:
            tio.c_cflag |= CS7;
            break;
        case 8:
            tio.c_cflag |= CS8;
            break;
        default:
            errno = EINVAL;
            return false;
    }
    switch (parity) {  // the Windows codes: 0 none, 1 odd, 2 even; mark and space have no match
        case 0:
            break;
        case 1:
            tio.c_cflag |= PARENB | PARODD;
            break;
        case 2:
            tio.c_cflag |= PARENB;
            break;
        default:
            errno = EINVAL;
            return false;
    }
    switch (stopBits) {  // 0 one stop bit, 2 two; 1.5 has no match
        case 0:
            break;
        case 2:
            tio.c_cflag |= CSTOPB;
            break;
        default:
            errno = EINVAL;
            return false;
    }
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

bool ComPort::Close() {
    if (handle == kInvalidPortHandle) {
        return true;
    }
    const int fd = static_cast<int>(handle);
    (void)ioctl(fd, TIOCNXCL);
    // Linux releases the descriptor even when close() reports an error, so it is not kept.
    const int result = close(fd);
    handle = kInvalidPortHandle;
    return result == 0 || errno == EINTR;
}

int LastSystemError() {
    return errno;
}

int WriteTimeoutError() {
    return ETIMEDOUT;
}
