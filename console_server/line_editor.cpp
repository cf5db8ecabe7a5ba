#include "line_editor.h"

#include <algorithm>
#include <cstring>

namespace conproxy {

namespace {
constexpr char kEnter = '\r';
constexpr char kBackspace = '\b';
// Virtual keys of the editing keys (character 0, or Esc's own).
constexpr uint16_t kVkEscape = 0x1B;
constexpr uint16_t kVkEnd = 0x23;
constexpr uint16_t kVkHome = 0x24;
constexpr uint16_t kVkLeft = 0x25;
constexpr uint16_t kVkUp = 0x26;
constexpr uint16_t kVkRight = 0x27;
constexpr uint16_t kVkDown = 0x28;
constexpr uint16_t kVkDelete = 0x2E;
constexpr char kTab = '\t';
constexpr char kControlLimit = 0x20;
constexpr char kDelete = 0x7F;

// How the console echoes a character: other control characters than Tab as ^ and a letter.
std::string Shown(char character) {
    if ((character >= 0 && character < kControlLimit && character != kTab) ||
        character == kDelete) {
        return {'^', static_cast<char>(character ^ 0x40)};
    }
    return std::string(1, character);
}
std::string Shown(const std::string& text, size_t from, size_t to) {
    std::string shown;
    for (size_t i = from; i < to && i < text.size(); ++i) {
        shown += Shown(text[i]);
    }
    return shown;
}
// The columns the characters take as echoed (a tab is taken as one: the echo does not know
// where the tab stops are, so a line with a tab is redrawn imperfectly).
size_t Width(const std::string& text, size_t from, size_t to) {
    return Shown(text, from, to).size();
}
}  // namespace

bool LineEditor::Take(const InputRecord& record, std::string& echo) {
    if (record.eventType != kKeyEvent || !record.event.key.keyDown) {
        return false;
    }
    const int repeat = std::max<int>(1, record.event.key.repeatCount);
    for (int i = 0; i < repeat; ++i) {
        if (Edit(record, echo)) {
            continue;
        }
        const char character = record.event.key.asciiChar;
        if (character == 0) {
            return false;
        }
        if (character == kEnter) {
            MoveTo(line_.size(), echo);
            if (!line_.empty()) {
                if (history_.size() >= kMaxHistoryLines) {
                    history_.erase(history_.begin());
                }
                history_.push_back(line_);
            }
            recalled_ = history_.size();
            ready_ += line_;
            ready_ += "\r\n";
            line_.clear();
            cursor_ = 0;
            echo += "\r\n";
            return true;
        }
        if (character == kBackspace) {
            if (cursor_ > 0) {
                EraseAt(cursor_ - 1, echo);
            }
            continue;
        }
        Insert(character, echo);
    }
    return false;
}

bool LineEditor::Edit(const InputRecord& record, std::string& echo) {
    const auto& key = record.event.key;
    // Ctrl and Alt turn these keys into other commands (word moves and the like) that we do
    // not offer; such a key does nothing rather than type something.
    const bool plain = (key.controlKeyState & (kLeftCtrlPressed | kRightCtrlPressed |
                                               kLeftAltPressed | kRightAltPressed)) == 0;
    switch (key.virtualKeyCode) {
        case kVkEscape:
            if (plain) {
                Replace(std::string(), echo);
                recalled_ = history_.size();
            }
            return true;
        case kVkLeft:
            if (plain && cursor_ > 0) {
                MoveTo(cursor_ - 1, echo);
            }
            return true;
        case kVkRight:
            if (plain && cursor_ < line_.size()) {
                MoveTo(cursor_ + 1, echo);
            }
            return true;
        case kVkHome:
            if (plain) {
                MoveTo(0, echo);
            }
            return true;
        case kVkEnd:
            if (plain) {
                MoveTo(line_.size(), echo);
            }
            return true;
        case kVkDelete:
            if (plain && cursor_ < line_.size()) {
                EraseAt(cursor_, echo);
            }
            return true;
        case kVkUp:
            if (plain && recalled_ > 0) {
                --recalled_;
                Replace(history_[recalled_], echo);
            }
            return true;
        case kVkDown:
            if (plain && recalled_ + 1 < history_.size()) {
                ++recalled_;
                Replace(history_[recalled_], echo);
            }
            return true;
        default:
            return false;
    }
}

void LineEditor::Insert(char character, std::string& echo) {
    if (line_.size() >= kMaxLineChars) {
        return;
    }
    line_.insert(cursor_, 1, character);
    // The character and what follows it are shown again, then the cursor goes back after it.
    echo += Shown(line_, cursor_, line_.size());
    ++cursor_;
    echo.append(Width(line_, cursor_, line_.size()), kBackspace);
}

void LineEditor::EraseAt(size_t position, std::string& echo) {
    MoveTo(position, echo);
    const size_t erased = Width(line_, position, position + 1);
    line_.erase(position, 1);
    echo += Shown(line_, position, line_.size());
    echo.append(erased, ' ');
    echo.append(Width(line_, position, line_.size()) + erased, kBackspace);
}

void LineEditor::MoveTo(size_t position, std::string& echo) {
    if (position < cursor_) {
        echo.append(Width(line_, position, cursor_), kBackspace);
    } else {
        echo += Shown(line_, cursor_, position);
    }
    cursor_ = position;
}

void LineEditor::Replace(const std::string& line, std::string& echo) {
    MoveTo(0, echo);
    const size_t oldWidth = Width(line_, 0, line_.size());
    line_ = line;
    const size_t newWidth = Width(line_, 0, line_.size());
    echo += Shown(line_, 0, line_.size());
    // Blanks over what is left of the longer old line, and back to the new line's end.
    if (oldWidth > newWidth) {
        echo.append(oldWidth - newWidth, ' ');
        echo.append(oldWidth - newWidth, kBackspace);
    }
    cursor_ = line_.size();
}

uint32_t LineEditor::Deliver(char* buffer, uint32_t size) {
    const auto count = static_cast<uint32_t>(std::min<size_t>(size, ready_.size()));
    if (count > 0) {
        std::memcpy(buffer, ready_.data(), count);
    }
    ready_.erase(0, count);
    return count;
}

}  // namespace conproxy
