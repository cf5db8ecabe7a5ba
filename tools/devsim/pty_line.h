// The device's end of a pseudo-terminal that stands in for a serial line.
// The master is the device side. The slave is opened here only to set it up (raw from the start)
// and is then let go, as a device holds no port of its host: a host that refuses a port another
// program holds must find nobody on it. With no host on the slave the master reports a hang-up,
// which the device's loop takes as "no host yet" and waits out without spinning.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace devsim {

// Move-only owner of a file descriptor, closed in one place.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release();
    void Reset();

  private:
    int fd_ = -1;
};

struct PtyLine {
    UniqueFd master;
    UniqueFd slave;  // for the set-up only; released before any host is told the path
    std::string slavePath;
};

// Opens a pseudo-terminal and, when raw is set, sets its slave raw (8 data bits, no echo, no
// translation); otherwise the slave keeps the kernel's cooked defaults, as a port a host must
// configure itself. On failure returns false with a description in error.
bool OpenPtyLine(PtyLine& line, bool raw, std::string& error);

// Writes all of data, looping over EINTR and short writes. False on any other failure.
bool WriteAll(int fd, const void* data, std::size_t count);

// A point in time on the monotonic clock, with the milliseconds left until it.
class Deadline {
  public:
    static Deadline In(std::chrono::milliseconds delay) {
        return Deadline(std::chrono::steady_clock::now() + delay);
    }
    static Deadline Never() { return Deadline(std::chrono::steady_clock::time_point::max()); }

    bool Expired() const { return std::chrono::steady_clock::now() >= at_; }
    // Milliseconds left, rounded up so a poll() on it does not wake early; capped at capMs.
    int RemainingMs(int capMs) const;

  private:
    explicit Deadline(std::chrono::steady_clock::time_point at) : at_(at) {}
    std::chrono::steady_clock::time_point at_;
};

}  // namespace devsim
