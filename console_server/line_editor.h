// The Windows console's line mode over input records: typed characters are echoed and collected,
// Backspace takes one back, Enter finishes the line with "\r\n". A finished line is handed out
// in pieces as small as the reader asks for; what is left waits for the next read.
#pragma once

#include <cstdint>
#include <string>

#include "console_records.h"

class LineEditor {
  public:
    // Takes one record; appends to echo what the console shows for it (8-bit text). Records that
    // are not a key-down with a character are consumed and dropped. True once a line is finished.
    bool Take(const InputRecord& record, std::string& echo);

    // Finished text not yet handed out.
    bool HasText() const { return !ready_.empty(); }
    // Moves up to size characters of the finished text into buffer; returns how many.
    uint32_t Deliver(char* buffer, uint32_t size);

  private:
    std::string line_;   // being typed
    std::string ready_;  // finished, waiting for the reader
};
