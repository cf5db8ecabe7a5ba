// The transfer's progress on an interactive console, right after the label of the command that
// announced it: percent and bytes, redrawn at most every kProgressIntervalMs. Erased with
// backspaces and blanks when the view ends, so the screen reads as the transcript does.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace portboot {

constexpr std::uint32_t kProgressIntervalMs = 100;

class ProgressView {
  public:
    // Shows nothing unless `shown` (standard output is an interactive console).
    explicit ProgressView(bool shown) : shown_(shown) {}
    ~ProgressView() { Erase(); }
    ProgressView(const ProgressView&) = delete;
    ProgressView& operator=(const ProgressView&) = delete;

    void Update(std::uint32_t sent, std::uint32_t total);
    void Erase();

  private:
    void Redraw(const char* text, std::size_t length);

    bool shown_;
    std::size_t width_ = 0;  // characters of the view now on the screen
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastDrawn_;
};

}  // namespace portboot
