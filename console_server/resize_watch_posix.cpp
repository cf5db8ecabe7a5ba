#include "resize_watch_posix.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <string>

namespace conproxy {

namespace {

// The kernel queues the signal inside the client's ftruncate, so it has been handled before
// the server returns from the wait for the request that follows.
volatile sig_atomic_t resizeSignals = 0;
volatile sig_atomic_t watching = 0;

// Reads the queued events away: inotify folds an event into an unread one like it without a
// new signal, so the next resize must find the queue empty.
void DrainEvents(int watch) {
    char events[4096];
    while (read(watch, events, sizeof events) > 0) {
    }
}

}  // namespace

void CountResize() {
    resizeSignals = resizeSignals + 1;
}

bool TakeResizeSignal() {
    if (!watching) {
        return false;
    }
    CountResize();
    return true;
}

int WatchResizes(int fd) {
    // Only where the signal table has taken SIGIO (startup.h): its default would end us.
    sigset_t blocked;
    struct sigaction current {};
    if (sigprocmask(SIG_BLOCK, nullptr, &blocked) != 0 || sigismember(&blocked, SIGIO) ||
        sigaction(SIGIO, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) == 0) {
        return -1;
    }
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch < 0) {
        return -1;
    }
    // Through the descriptor's own link: the object's directory is the C library's business.
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const int flags = fcntl(watch, F_GETFL);
    watching = 1;  // before the first signal can come
    if (inotify_add_watch(watch, path.c_str(), IN_MODIFY) < 0 ||
        fcntl(watch, F_SETOWN, getpid()) != 0 || flags < 0 ||
        fcntl(watch, F_SETFL, flags | O_ASYNC) != 0) {
        close(watch);
        return -1;
    }
    return watch;
}

bool ResizedSince(intptr_t watch, long& seen) {
    if (watch < 0) {
        return true;
    }
    const long resizes = resizeSignals;
    if (resizes == seen) {
        return false;
    }
    seen = resizes;
    DrainEvents(static_cast<int>(watch));
    return true;
}

}  // namespace conproxy
