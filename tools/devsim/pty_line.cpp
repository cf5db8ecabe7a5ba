#include "pty_line.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace devsim {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        Reset();
        fd_ = other.Release();
    }
    return *this;
}

int UniqueFd::Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

void UniqueFd::Reset() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool OpenPtyLine(PtyLine& line, bool raw, std::string& error) {
    UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master.Valid() || ::grantpt(master.Get()) != 0 || ::unlockpt(master.Get()) != 0) {
        error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    char name[128];
    if (::ptsname_r(master.Get(), name, sizeof name) != 0) {
        error = std::string("ptsname: ") + std::strerror(errno);
        return false;
    }
    // No flock here: the host locks the slave to keep a second host out, and a lock held by
    // the device would keep the one host out as well.
    UniqueFd slave(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!slave.Valid()) {
        error = std::string("cannot open ") + name + ": " + std::strerror(errno);
        return false;
    }
    // Raw before any byte moves: a canonical line discipline would hold an unasked status byte
    // back until a newline, and would translate CR and NL in the image.
    termios attributes{};
    if (raw && ::tcgetattr(slave.Get(), &attributes) != 0) {
        error = std::string("tcgetattr: ") + std::strerror(errno);
        return false;
    }
    ::cfmakeraw(&attributes);
    if (raw && ::tcsetattr(slave.Get(), TCSANOW, &attributes) != 0) {
        error = std::string("tcsetattr: ") + std::strerror(errno);
        return false;
    }
    line.master = std::move(master);
    line.slave = std::move(slave);
    line.slavePath = name;
    return true;
}

bool WriteAll(int fd, const void* data, std::size_t count) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (count > 0) {
        ssize_t written = ::write(fd, bytes, count);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

int Deadline::RemainingMs(int capMs) const {
    using namespace std::chrono;
    auto now = steady_clock::now();
    if (now >= at_) {
        return 0;
    }
    auto left = at_ - now;
    if (left > milliseconds(capMs)) {
        return capMs;
    }
    return static_cast<int>(ceil<milliseconds>(left).count());
}

}  // namespace devsim
