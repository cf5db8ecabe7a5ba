// The Windows console's line mode over input records: typed characters are echoed (control
// characters as ^ and a letter) and inserted at the edit cursor, Backspace and Delete take one out,
// Left/Right/Home/End move, Esc clears the line, Up/Down recall earlier lines, Enter finishes the
// line with "\r\n". A finished line is handed out in pieces as small as the reader asks for; what
// is left waits for the next read. A line holds at most kMaxLineChars characters (further ones
// are dropped, as a full console line takes no more) and the history its last kMaxHistoryLines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "console_records.h"

namespace conproxy {

constexpr size_t kMaxLineChars = 4094;   // with CR LF, 4096 bytes
constexpr size_t kMaxHistoryLines = 50;  // the Windows console's default history size

class LineEditor {
  public:
    // Takes one record; appends to echo what the console shows for it (8-bit text, with "\b"
    // to move the terminal's cursor back). Records that are neither a key-down with a character
    // nor an editing key are consumed and dropped. True once a line is finished.
    bool Take(const InputRecord& record, std::string& echo);

    // Finished text not yet handed out.
    bool HasText() const { return !ready_.empty(); }
    // Moves up to size characters of the finished text into buffer; returns how many.
    uint32_t Deliver(char* buffer, uint32_t size);

    // The line being typed, the edit position in it, and the lines kept for Up/Down.
    const std::string& Line() const { return line_; }
    size_t Cursor() const { return cursor_; }
    size_t HistoryLines() const { return history_.size(); }

  private:
    // False when the record is no editing key (then it is looked at as a character).
    bool Edit(const InputRecord& record, std::string& echo);
    void Insert(char character, std::string& echo);
    void EraseAt(size_t position, std::string& echo);  // the cursor is left at position
    void MoveTo(size_t position, std::string& echo);
    void Replace(const std::string& line, std::string& echo);  // cursor at its end

    std::string line_;   // being typed
    size_t cursor_ = 0;  // edit position in line_
    std::vector<std::string> history_;
    size_t recalled_ = 0;  // history_ index Up/Down go from; history_.size() when none
    std::string ready_;    // finished, waiting for the reader
};

}  // namespace conproxy
