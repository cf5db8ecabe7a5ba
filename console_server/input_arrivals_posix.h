// When each byte of terminal input came, also while nobody was reading: a lone Esc is told from
// Alt+key by the pause after it, and an Esc and a key typed long after it, both waiting unread
// while the server sleeps between requests, must not join into Alt with that key.
//
// A thread sleeps on the terminal (epoll, edge-triggered, so every arrival wakes it) and marks
// how far the input had come at that moment; it reads nothing, so keys left unread when we end
// stay for whoever reads the terminal next. Our reads go through Read, which hands the bytes
// back in runs, each with the time it came.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace conproxy {

class InputArrivals {
  public:
    using Clock = std::chrono::steady_clock;
    struct Run {
        size_t size;
        Clock::time_point came;
    };

    InputArrivals() = default;
    ~InputArrivals();
    InputArrivals(const InputArrivals&) = delete;
    InputArrivals& operator=(const InputArrivals&) = delete;

    // Starts watching fd. False when it cannot be watched: every byte then counts as come when
    // it is read.
    bool Watch(int fd);
    // One read of fd (EINTR retried): bytes read, 0 at its end, -1 on an error. runs gets the
    // bytes read, in order, split where they came at different times.
    ssize_t Read(int fd, char* buffer, size_t size, std::vector<Run>& runs);

  private:
    struct Mark {
        uint64_t end;  // bytes ever read by us plus those waiting, at that time
        Clock::time_point at;
    };

    void WatchLoop(int fd);

    int poller_ = -1;
    int stop_ = -1;
    std::thread watcher_;
    // Held across our read, so that a mark's count of waiting bytes and ours of bytes read
    // never disagree about a byte.
    std::mutex mutex_;
    uint64_t consumed_ = 0;
    // Ascending ends. At most one per byte the terminal holds unread, so a client that reads
    // nothing cannot make it grow without end.
    std::deque<Mark> marks_;
};

}  // namespace conproxy
