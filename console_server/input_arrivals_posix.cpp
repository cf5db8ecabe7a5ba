#include "input_arrivals_posix.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <system_error>

#include "terminal_posix.h"

namespace conproxy {

InputArrivals::~InputArrivals() {
    if (watcher_.joinable()) {
        const uint64_t one = 1;
        if (write(stop_, &one, sizeof one) == sizeof one) {
            watcher_.join();
        } else {
            watcher_.detach();  // cannot be woken; it touches nothing of ours once we are gone
        }
    }
    for (const int fd : {poller_, stop_}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

bool InputArrivals::Watch(int fd) {
    poller_ = epoll_create1(EPOLL_CLOEXEC);
    stop_ = eventfd(0, EFD_CLOEXEC);
    if (poller_ < 0 || stop_ < 0) {
        return false;
    }
    epoll_event input{};
    input.events = EPOLLIN | EPOLLET;
    input.data.fd = fd;
    epoll_event stop{};
    stop.events = EPOLLIN;
    stop.data.fd = stop_;
    if (epoll_ctl(poller_, EPOLL_CTL_ADD, fd, &input) != 0 ||
        epoll_ctl(poller_, EPOLL_CTL_ADD, stop_, &stop) != 0) {
        return false;
    }
    // Signals are the main thread's: its handlers end the server, restore the terminal and
    // interrupt its waits; the watcher takes none.
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &before);
    bool started = true;
    try {
        watcher_ = std::thread([this, fd] { WatchLoop(fd); });
    } catch (const std::system_error&) {
        started = false;
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return started;
}

void InputArrivals::WatchLoop(int fd) {
    for (;;) {
        epoll_event events[2];
        const int ready = epoll_wait(poller_, events, 2, -1);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        bool input = false;
        for (int i = 0; i < ready; ++i) {
            if (events[i].data.fd == stop_) {
                return;
            }
            // A hung-up terminal has nothing more to come: its end is for our read to find.
            if ((events[i].events & (EPOLLHUP | EPOLLERR)) != 0) {
                return;
            }
            input = true;
        }
        if (!input) {
            continue;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        int waiting = 0;
        if (ioctl(fd, FIONREAD, &waiting) != 0 || waiting <= 0) {
            continue;
        }
        // The time after the count: every byte counted had come by then.
        const Mark mark{consumed_ + static_cast<uint64_t>(waiting), Clock::now()};
        if (marks_.empty() || mark.end > marks_.back().end) {
            marks_.push_back(mark);
        }
    }
}

ssize_t InputArrivals::Read(int fd, char* buffer, size_t size, std::vector<Run>& runs) {
    runs.clear();
    std::lock_guard<std::mutex> lock(mutex_);
    const ssize_t got = ReadSome(fd, buffer, size);
    if (got <= 0) {
        return got;
    }
    uint64_t position = consumed_;
    consumed_ += static_cast<uint64_t>(got);
    while (!marks_.empty() && position < consumed_) {
        const Mark& mark = marks_.front();
        if (mark.end > position) {
            const uint64_t end = std::min(mark.end, consumed_);
            runs.push_back({static_cast<size_t>(end - position), mark.at});
            position = end;
        }
        if (mark.end <= consumed_) {
            marks_.pop_front();
        }
    }
    // Bytes the watcher has not woken for yet came just now.
    if (position < consumed_) {
        runs.push_back({static_cast<size_t>(consumed_ - position), Clock::now()});
    }
    return got;
}

}  // namespace conproxy
