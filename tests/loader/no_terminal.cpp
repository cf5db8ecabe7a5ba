// The loader waits for a key on its controlling terminal before error exits. The unit tests run
// those exits many times, so the test process gives up its terminal before any test runs:
// without one the key wait returns at once, wherever the tests are started from.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

bool DropControllingTerminal() {
    if (setsid() >= 0) {
        return true;  // a new session has no terminal
    }
    // A process group leader (started straight from a shell) cannot start a session; it can
    // still let go of the terminal, which affects only this process.
    const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return true;
    }
    const bool dropped = getsid(0) != getpid() && ioctl(fd, TIOCNOTTY) == 0;
    close(fd);
    return dropped;
}

const bool terminalDropped = DropControllingTerminal();

}  // namespace

bool TestsHaveNoTerminal() {
    return terminalDropped;
}
