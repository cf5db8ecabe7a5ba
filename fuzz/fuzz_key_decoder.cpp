// Arbitrary terminal bytes through the KeyDecoder, fed in chunks the input chooses, with the
// pause (Flush) and cursor-report queries between chunks where it chooses. Every record must
// be a well-formed key record, each key stroke balanced (modifiers' downs, key down and up,
// modifiers' ups), nothing held after a Flush, and the records must not depend on how the
// bytes were split into reads: a second decoder gets each run between pauses in one piece.
//
// Input: 1 byte n (modulo 32), n chunk bytes (low 5 bits the length; 0x40 a cursor report is
// expected before the chunk; 0x80 the pause comes after it), then the terminal bytes; what the
// chunks leave over is the last read.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <utility>
#include <vector>

#include "key_decoder.h"

namespace {

using namespace conproxy;

constexpr std::size_t kMaxChunks = 32;
constexpr std::uint8_t kChunkLengthMask = 0x1F;
constexpr std::uint8_t kExpectReportBit = 0x40;
constexpr std::uint8_t kPauseBit = 0x80;
constexpr std::uint32_t kDefinedControlKeyBits =
    kRightAltPressed | kLeftAltPressed | kRightCtrlPressed | kLeftCtrlPressed | kShiftPressed |
    kNumLockOn | kScrollLockOn | kCapsLockOn | kEnhancedKey;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_key_decoder: %s\n", what);
    std::abort();
}

// The records one Feed or Flush appended: each well formed, and the key strokes nested and
// closed (a key-up answers the latest open key-down of the same key).
void CheckRecords(const std::deque<InputRecord>& records, std::size_t from) {
    std::vector<std::pair<std::uint16_t, std::uint16_t>> open;
    for (std::size_t i = from; i < records.size(); ++i) {
        const InputRecord& record = records[i];
        if (record.eventType != kKeyEvent) {
            Fail("a record that is not a key event");
        }
        const KeyEventRecord& key = record.event.key;
        if ((key.keyDown != 0 && key.keyDown != 1) || key.repeatCount != 1 ||
            key.charHighByte != 0 || (key.controlKeyState & ~kDefinedControlKeyBits) != 0 ||
            record.padding != 0) {
            Fail("a key record with a field out of its range");
        }
        const std::pair<std::uint16_t, std::uint16_t> id{key.virtualKeyCode, key.virtualScanCode};
        if (key.keyDown == 1) {
            open.push_back(id);
        } else if (open.empty() || open.back() != id) {
            Fail("a key-up without its key-down");
        } else {
            open.pop_back();
        }
    }
    if (!open.empty()) {
        Fail("a key-down without its key-up");
    }
}

// Decodes into records, checking each step; reports holds every cursor report taken.
struct CheckedDecoder {
    KeyDecoder decoder;
    std::deque<InputRecord> records;
    std::vector<std::pair<int, int>> reports;

    void Feed(const std::uint8_t* data, std::size_t size) {
        const std::size_t from = records.size();
        decoder.Feed(reinterpret_cast<const char*>(data), size, records);
        CheckRecords(records, from);
    }
    void Flush() {
        const std::size_t from = records.size();
        decoder.Flush(records);
        CheckRecords(records, from);
        if (decoder.HasPending()) {
            Fail("bytes still held after the pause");
        }
    }
    void TakeReport() {
        int row = 0;
        int column = 0;
        if (decoder.TakeCursorReport(row, column)) {
            reports.emplace_back(row, column);
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t chunks = std::min<std::size_t>(data[0] % kMaxChunks, size - 1);
    const std::uint8_t* control = data + 1;
    const std::uint8_t* stream = control + chunks;
    const std::size_t streamSize = size - 1 - chunks;

    CheckedDecoder pieces;  // as the reads came
    CheckedDecoder whole;   // each run between pauses and queries in one read
    std::size_t position = 0;
    std::size_t runStart = 0;  // the first byte whole has not been given yet
    auto feedRun = [&] {
        whole.Feed(stream + runStart, position - runStart);
        runStart = position;
    };
    for (std::size_t i = 0; i < chunks; ++i) {
        const std::size_t length =
            std::min<std::size_t>(control[i] & kChunkLengthMask, streamSize - position);
        if ((control[i] & kExpectReportBit) != 0) {
            feedRun();
            pieces.TakeReport();
            whole.TakeReport();
            pieces.decoder.ExpectCursorReport();
            whole.decoder.ExpectCursorReport();
        }
        pieces.Feed(stream + position, length);
        position += length;
        if ((control[i] & kPauseBit) != 0) {
            feedRun();
            pieces.Flush();
            whole.Flush();
        }
    }
    pieces.Feed(stream + position, streamSize - position);
    position = streamSize;
    feedRun();
    pieces.Flush();
    whole.Flush();
    pieces.TakeReport();
    whole.TakeReport();

    if (pieces.records.size() != whole.records.size() ||
        !std::equal(pieces.records.begin(), pieces.records.end(), whole.records.begin(),
                    [](const InputRecord& a, const InputRecord& b) {
                        return std::memcmp(&a, &b, sizeof a) == 0;
                    })) {
        Fail("the records depend on how the bytes were split into reads");
    }
    if (pieces.reports != whole.reports) {
        Fail("the cursor reports depend on how the bytes were split into reads");
    }
    return 0;
}
