// A point in time on the monotonic clock, and how many milliseconds remain until it: the one
// place where time-outs are computed.
#pragma once

#include <chrono>

namespace conproxy {

// A time limit that means none, for the waits that take one.
constexpr int kWaitForever = -1;

class Deadline {
  public:
    explicit Deadline(int timeoutMs)
        : end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs)) {}

    // Milliseconds left, 0 once passed; rounded up so a wait never ends just short of it.
    int RemainingMs() const {
        const auto left = end_ - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) {
            return 0;
        }
        return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
    }
    bool Expired() const { return RemainingMs() == 0; }

  private:
    std::chrono::steady_clock::time_point end_;
};

}  // namespace conproxy
