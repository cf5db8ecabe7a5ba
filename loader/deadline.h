// A point in time on the monotonic clock, for the serial time-outs: poll() is given what is left
// of it, so a wait interrupted by a signal or a partial transfer does not start over.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>

namespace portboot {

class Deadline {
  public:
    using Clock = std::chrono::steady_clock;

    static Deadline AfterMs(std::uint64_t ms) { return At(Clock::now(), ms); }
    static Deadline At(Clock::time_point from, std::uint64_t ms) {
        return Deadline(from + std::chrono::milliseconds(ms), false);
    }
    static Deadline Never() { return Deadline(Clock::time_point::max(), true); }

    // For poll(): -1 when there is no deadline, else the whole milliseconds left (never
    // negative, rounded up so a wait does not end a fraction early and spin).
    int RemainingMs() const {
        if (never_) {
            return -1;
        }
        const auto left = at_ - Clock::now();
        if (left <= Clock::duration::zero()) {
            return 0;
        }
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        return static_cast<int>(std::min<long long>(ms, std::numeric_limits<int>::max()));
    }
    bool Expired() const { return !never_ && Clock::now() >= at_; }
    Clock::time_point When() const { return at_; }

  private:
    Deadline(Clock::time_point at, bool never) : at_(at), never_(never) {}

    Clock::time_point at_;
    bool never_;
};

}  // namespace portboot
