// A point in time on the monotonic clock, and how many milliseconds remain until it: the one
// place where time-outs are computed. A negative time-out means no limit, as it does for the
// client library (conproxy_protocol::kNoTimeLimit).
#pragma once

#include <chrono>

#include "conproxy_protocol.h"

namespace conproxy {

// A time limit that means none, for the waits that take one.
constexpr int kWaitForever = conproxy_protocol::kNoTimeLimit;

class Deadline {
  public:
    explicit Deadline(int timeoutMs)
        : never_(timeoutMs < 0),
          end_(std::chrono::steady_clock::now() +
               std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs)) {}

    // Milliseconds left, 0 once passed, kWaitForever without a limit; rounded up so a wait
    // never ends just short of it.
    int RemainingMs() const {
        if (never_) {
            return kWaitForever;
        }
        const auto left = end_ - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) {
            return 0;
        }
        return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
    }
    bool Expired() const { return RemainingMs() == 0; }

  private:
    bool never_;
    std::chrono::steady_clock::time_point end_;
};

}  // namespace conproxy
