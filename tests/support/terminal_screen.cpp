#include "terminal_screen.h"

#include <vterm.h>

#include <cstdint>
#include <utility>

namespace test_support {
namespace {

void AppendUtf8(uint32_t c, std::string* out) {
    if (c < 0x80) {
        *out += static_cast<char>(c);
    } else if (c < 0x800) {
        *out += static_cast<char>(0xC0 | (c >> 6));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out += static_cast<char>(0xE0 | (c >> 12));
        *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | (c >> 18));
        *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

TerminalScreen::TerminalScreen(int rows, int cols, Answer answer)
    : answer_(std::move(answer)), vt_(vterm_new(rows, cols)) {
    vterm_set_utf8(vt_, 1);
    vterm_output_set_callback(vt_, &TerminalScreen::Output, this);
    screen_ = vterm_obtain_screen(vt_);
    vterm_screen_reset(screen_, 1);
}

TerminalScreen::~TerminalScreen() {
    vterm_free(vt_);
}

void TerminalScreen::Output(const char* bytes, std::size_t length, void* user) {
    auto* self = static_cast<TerminalScreen*>(user);
    if (self->answer_) {
        self->answer_(bytes, length);
    }
}

void TerminalScreen::Feed(const char* bytes, std::size_t length) {
    vterm_input_write(vt_, bytes, length);
}

void TerminalScreen::Resize(int rows, int cols) {
    vterm_set_size(vt_, rows, cols);
}

std::string TerminalScreen::Row(int row) const {
    int rows = 0, cols = 0;
    vterm_get_size(vt_, &rows, &cols);
    std::string text;
    for (int col = 0; col < cols; ++col) {
        VTermScreenCell cell{};
        const VTermPos pos{row, col};
        vterm_screen_get_cell(screen_, pos, &cell);
        // The second half of a wide character has width 0 and no text of its own.
        if (cell.width == 0 || cell.chars[0] == 0) {
            if (cell.width != 0) {
                text += ' ';
            }
            continue;
        }
        for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && cell.chars[i] != 0; ++i) {
            AppendUtf8(cell.chars[i], &text);
        }
    }
    const std::size_t end = text.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

std::vector<std::string> TerminalScreen::Rows() const {
    int rows = 0, cols = 0;
    vterm_get_size(vt_, &rows, &cols);
    std::vector<std::string> all;
    for (int row = 0; row < rows; ++row) {
        all.push_back(Row(row));
    }
    return all;
}

std::string TerminalScreen::Text() const {
    std::string all;
    for (const std::string& row : Rows()) {
        all += row + "\n";
    }
    if (!all.empty()) {
        all.pop_back();  // joined, not ended
    }
    return all;
}

void TerminalScreen::Cursor(int* row, int* col) const {
    VTermPos pos{};
    vterm_state_get_cursorpos(vterm_obtain_state(vt_), &pos);
    *row = pos.row;
    *col = pos.col;
}

}  // namespace test_support
