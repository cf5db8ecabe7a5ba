// Keys from the terminal on standard input: bytes read as asked for, through the key decoder
// with the times they came, into one queue of input records that the record reads and the line
// editor take from. The cursor query is answered on the same input, so it is asked here too,
// keys typed ahead kept.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "console_records.h"
#include "deadline.h"
#include "input_arrivals_posix.h"
#include "key_decoder.h"
#include "terminal_posix.h"

namespace conproxy {

class TerminalInput {
  public:
    explicit TerminalInput(const TerminalSession& session) : session_(session) {}

    // Starts noting when input comes, from now on, also while nothing is asked of us.
    void WatchArrivals();

    bool IsTerminal() const { return session_.InputIsTerminal(); }
    // The next record without taking it, count 0 when none has come; never waits. False when
    // input is no terminal.
    bool Peek(InputRecord& record, uint32_t& count);
    // The next record, taken; waits for it. False when input is no terminal, at its end, or on
    // a read error.
    bool Take(InputRecord& record);
    // Asks the terminal where the cursor is (1-based). False when it cannot be asked, or its
    // answer cannot be read (held bytes full) or does not come in time.
    bool QueryCursor(int& row, int& column);

  private:
    bool Pump(int waitMs);
    void Decode(const char* bytes);
    int PauseLeftMs(InputArrivals::Clock::time_point at) const;

    const TerminalSession& session_;
    KeyDecoder decoder_;
    std::deque<InputRecord> queue_;
    InputArrivals arrivals_;
    std::vector<InputArrivals::Run> runs_;
    InputArrivals::Clock::time_point lastCame_;
};

}  // namespace conproxy
