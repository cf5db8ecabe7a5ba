// Turns the bytes a VT terminal sends into the key records a Windows console would deliver.
// A table maps each escape sequence or typed byte to a Windows key; bytes that may begin a
// longer sequence are held until more arrive or the caller's pause says they are complete, and
// bytes the caller has no room for are held undecoded until it has (cursor reports excepted).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "console_records.h"

namespace conproxy {

constexpr int kEscapePauseMs = 50;  // a lone ESC is told from a sequence by this pause

class KeyDecoder {
  public:
    // Appends complete key records (down, up; modifiers' own down/up around them) for the bytes.
    // Bytes that may begin a longer sequence (ESC, incomplete CSI/SS3, incomplete UTF-8) are held.
    // Decoding stops once out holds maxRecords (a key's records are never split); the rest is
    // held, and decoded by the next Feed (with no bytes, once out has room again).
    void Feed(const char* data, size_t size, std::deque<InputRecord>& out,
              size_t maxRecords = SIZE_MAX);
    // An incomplete sequence is held: the caller waits kEscapePauseMs for more, then Flush.
    bool HasPending() const;
    // Decode what is held as typed keys (lone ESC → Esc), as far as out has room.
    void Flush(std::deque<InputRecord>& out, size_t maxRecords = SIZE_MAX);
    size_t HeldBytes() const { return pending_.size(); }
    // The next ESC [ r ; c R is a cursor report, not a key, also while it waits among held bytes.
    // It stays expected until it comes, however late.
    void ExpectCursorReport();
    bool ExpectingCursorReport() const { return expectCursorReport_; }
    bool TakeCursorReport(int& row, int& column);  // 1-based, as the terminal sends them

    // One key stroke as a Windows console delivers it: the modifiers' own key-down records, the
    // key's down and up, then the modifiers' key-up records. modifiers holds kShiftPressed,
    // kLeftCtrlPressed and kLeftAltPressed; extraState is added to the key's own records only
    // (kEnhancedKey).
    static void AppendKey(uint16_t virtualKey, uint16_t scanCode, char character,
                          uint32_t modifiers, uint32_t extraState, std::deque<InputRecord>& out);

  private:
    // Each returns the bytes it consumed from pending_ at position, or 0 to hold them for more.
    // complete: no more bytes will come (the pause), so nothing is held.
    void Decode(bool complete, std::deque<InputRecord>& out, size_t maxRecords);
    void TakeHeldReport();  // the expected report out of bytes held for lack of room
    size_t DecodeOne(size_t position, bool complete, std::deque<InputRecord>& out);
    size_t DecodeSequence(size_t position, std::deque<InputRecord>& out);
    size_t DecodeLinuxConsoleKey(size_t position, std::deque<InputRecord>& out);  // ESC [ [ X
    // A CSI ... R with two numbers while a report is expected: taken as the report.
    bool TakeExpectedReport(const std::vector<int>& parameters);
    size_t DecodeTyped(size_t position, uint32_t alt, bool complete, std::deque<InputRecord>& out);
    size_t DecodeUtf8(size_t position, uint32_t alt, bool complete, std::deque<InputRecord>& out);

    std::string pending_;
    bool discarding_ = false;  // inside an over-long sequence, skipping to its final byte
    bool stalled_ = false;     // the caller's records are full: pending_ waits undecoded
    bool expectCursorReport_ = false;
    bool haveCursorReport_ = false;
    int reportRow_ = 0;
    int reportColumn_ = 0;
};

}  // namespace conproxy
