// The transfer's progress on an interactive console, right after the label of the command that
// announced it: percent and bytes, redrawn at most every kProgressIntervalMs. Erased with
// backspaces and blanks when the view ends, so the screen reads as the transcript does. Since a
// backspace does not go back over a wrapped line, the view never reaches the console's last
// column: on a narrow console it shows the percent alone, or nothing.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace portboot {

constexpr std::uint32_t kProgressIntervalMs = 100;

class ProgressView {
  public:
    // Shows nothing unless `shown` (standard output is an interactive console). The view starts
    // `startColumn` characters into its line, on a console `columns` wide (0: not known).
    ProgressView(bool shown, std::size_t startColumn, std::size_t columns);
    ~ProgressView() { Erase(); }
    ProgressView(const ProgressView&) = delete;
    ProgressView& operator=(const ProgressView&) = delete;

    void Update(std::uint32_t sent, std::uint32_t total);
    void Erase();

  private:
    bool Fits(int length) const;
    void Redraw(const char* text, std::size_t length);

    bool shown_;
    std::size_t room_;       // characters the view may take
    std::size_t width_ = 0;  // characters of the view now on the screen
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastDrawn_;
};

}  // namespace portboot
