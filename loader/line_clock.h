// The line's own time. A pseudo-terminal, or a driver's transmit buffer, takes bytes long before
// the line has carried them, so the port keeps count itself: each byte occupies ten bit times of
// line (start, 8 data, stop) from the later of its write and the end of the byte before it.
#pragma once

#include <chrono>
#include <cstdint>

namespace portboot {

// Each byte takes ten bit times of line: start, 8 data, stop.
constexpr std::uint64_t kBitsPerByte = 10;

inline std::uint32_t BytesPerSecond(std::uint32_t baudRate) {
    return static_cast<std::uint32_t>(baudRate / kBitsPerByte);
}

class LineClock {
  public:
    using Clock = std::chrono::steady_clock;

    void SetSpeed(std::uint32_t baudRate) { baudRate_ = baudRate; }

    // How long `count` bytes occupy the line; zero while no speed is set.
    Clock::duration TimeFor(std::uint64_t count) const {
        if (baudRate_ == 0) {
            return Clock::duration::zero();
        }
        const std::uint64_t ns = count * kBitsPerByte * kNsPerSecond / baudRate_;
        return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(ns));
    }

    // `count` bytes handed to the line at `when`.
    void Add(Clock::time_point when, std::uint64_t count) {
        idleAt_ = (when > idleAt_ ? when : idleAt_) + TimeFor(count);
    }

    // When the line will have carried every byte added so far.
    Clock::time_point IdleAt() const { return idleAt_; }

  private:
    static constexpr std::uint64_t kNsPerSecond = 1000000000;

    std::uint32_t baudRate_ = 0;
    Clock::time_point idleAt_{};
};

}  // namespace portboot
