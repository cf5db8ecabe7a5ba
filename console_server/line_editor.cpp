#include "line_editor.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr char kEnter = '\r';
constexpr char kBackspace = '\b';
}  // namespace

bool LineEditor::Take(const InputRecord& record, std::string& echo) {
    if (record.eventType != kKeyEvent || !record.event.key.keyDown ||
        record.event.key.asciiChar == 0) {
        return false;
    }
    const char character = record.event.key.asciiChar;
    const int repeat = std::max<int>(1, record.event.key.repeatCount);
    for (int i = 0; i < repeat; ++i) {
        if (character == kEnter) {
            ready_ += line_;
            ready_ += "\r\n";
            line_.clear();
            echo += "\r\n";
            return true;
        }
        if (character == kBackspace) {
            if (!line_.empty()) {
                line_.pop_back();
                echo += "\b \b";
            }
            continue;
        }
        line_ += character;
        echo += character;
    }
    return false;
}

uint32_t LineEditor::Deliver(char* buffer, uint32_t size) {
    const auto count = static_cast<uint32_t>(std::min<size_t>(size, ready_.size()));
    if (count > 0) {
        std::memcpy(buffer, ready_.data(), count);
    }
    ready_.erase(0, count);
    return count;
}
