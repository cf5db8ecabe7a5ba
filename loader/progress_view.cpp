#include "progress_view.h"

#include <cstdio>
#include <string>

namespace portboot {

void ProgressView::Update(std::uint32_t sent, std::uint32_t total) {
    if (!shown_ || total == 0) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (drawn_ && now - lastDrawn_ < std::chrono::milliseconds(kProgressIntervalMs)) {
        return;
    }
    char text[48];
    const int length = std::snprintf(text, sizeof text, "%u%% %u/%u",
                                     static_cast<unsigned>(std::uint64_t{sent} * 100 / total),
                                     static_cast<unsigned>(sent), static_cast<unsigned>(total));
    Redraw(text, length > 0 ? static_cast<std::size_t>(length) : 0);
    drawn_ = true;
    lastDrawn_ = now;
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
