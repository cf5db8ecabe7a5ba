#include "progress_view.h"

#include <cstdio>
#include <string>

namespace portboot {

namespace {
// Where the width of the console is not known, as wide as a console usually is.
constexpr std::size_t kDefaultColumns = 80;
}  // namespace

ProgressView::ProgressView(bool shown, std::size_t startColumn, std::size_t columns)
    : shown_(shown), room_(0) {
    const std::size_t width = columns > 0 ? columns : kDefaultColumns;
    // One column stays free: a text that ends in the last one leaves the cursor waiting to wrap.
    if (startColumn + 1 < width) {
        room_ = width - startColumn - 1;
    }
}

void ProgressView::Update(std::uint32_t sent, std::uint32_t total) {
    if (!shown_ || total == 0) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (drawn_ && now - lastDrawn_ < std::chrono::milliseconds(kProgressIntervalMs)) {
        return;
    }
    // The form is chosen by its widest text, so it does not change in the middle of the view.
    char text[48];
    const unsigned all = static_cast<unsigned>(total);
    const unsigned percent = static_cast<unsigned>(std::uint64_t{sent} * 100 / total);
    int length = 0;
    if (Fits(std::snprintf(text, sizeof text, "100%% %u/%u", all, all))) {
        length = std::snprintf(text, sizeof text, "%u%% %u/%u", percent,
                               static_cast<unsigned>(sent), all);
    } else if (Fits(std::snprintf(text, sizeof text, "100%%"))) {
        length = std::snprintf(text, sizeof text, "%u%%", percent);
    }
    Redraw(text, length > 0 ? static_cast<std::size_t>(length) : 0);
    drawn_ = true;
    lastDrawn_ = now;
}

bool ProgressView::Fits(int length) const {
    return length > 0 && static_cast<std::size_t>(length) <= room_;
}

void ProgressView::Erase() {
    if (shown_ && width_ > 0) {
        Redraw("", 0);
    }
}

void ProgressView::Redraw(const char* text, std::size_t length) {
    // Back to where the view began, the new text, blanks over what is left of the old, and back
    // to the end of the new text: no cursor control beyond the backspace, which every console
    // knows.
    std::string out(width_, '\b');
    out.append(text, length);
    if (length < width_) {
        out.append(width_ - length, ' ');
        out.append(width_ - length, '\b');
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
    width_ = length;
}

}  // namespace portboot
