// The time limit of a wait, on the monotonic clock, as both ends count it: milliseconds from
// now, and any negative time-out (kNoTimeLimit by name) no limit at all.
#pragma once

#include <chrono>

#include "conproxy_protocol.h"

namespace conproxy_protocol {

class Deadline {
  public:
    // No clock is read for a wait without a limit: the server's request wait is one, every turn.
    explicit Deadline(int timeoutMs)
        : never_(timeoutMs < 0),
          end_(never_ ? std::chrono::steady_clock::time_point()
                      : std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs)) {}

    bool Expired() const { return !never_ && std::chrono::steady_clock::now() >= end_; }
    // Milliseconds left: 0 once passed, kNoTimeLimit without a limit. Rounded up, so that a
    // wait never ends just short of the limit, nor spins on a last fraction of a millisecond.
    int RemainingMs() const {
        if (never_) {
            return kNoTimeLimit;
        }
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(end_ - std::chrono::steady_clock::now());
        return left.count() < 0 ? 0 : static_cast<int>(left.count());
    }
    // The same, but at most capMs (also without a limit): for a wait in slices.
    int RemainingMs(int capMs) const {
        const int left = RemainingMs();
        return left == kNoTimeLimit || left > capMs ? capMs : left;
    }

  private:
    bool never_;
    std::chrono::steady_clock::time_point end_;
};

}  // namespace conproxy_protocol
