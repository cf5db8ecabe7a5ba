// Terminal bytes through the key decoder into the line editor, as a line read takes them. After
// every record: the edit position never passes the line's end, the line and the history stay
// within their bounds, and the echo holds no ESC (typed keys never reach the terminal as a
// control sequence). A record that finishes a line delivers exactly the line as it stood plus
// CR LF, handed out in the reader's pieces.
//
// Input: 1 byte, the reader's piece size (0 means 1), then the terminal bytes, fed in one read
// and then flushed as after the pause.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>

#include "key_decoder.h"
#include "line_editor.h"

namespace {

using namespace conproxy;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_line_editor: %s\n", what);
    std::abort();
}

void Check(const LineEditor& editor, const std::string& echo) {
    if (editor.Cursor() > editor.Line().size()) {
        Fail("the edit position passed the line's end");
    }
    if (editor.Line().size() > kMaxLineChars) {
        Fail("the line grew past its bound");
    }
    if (editor.HistoryLines() > kMaxHistoryLines) {
        Fail("the history grew past its bound");
    }
    if (echo.find('\x1b') != std::string::npos) {
        Fail("the echo holds an ESC");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const uint32_t piece = std::max<uint32_t>(1, data[0]);
    KeyDecoder decoder;
    std::deque<InputRecord> records;
    decoder.Feed(reinterpret_cast<const char*>(data + 1), size - 1, records);
    decoder.Flush(records);

    LineEditor editor;
    std::string before;
    for (const InputRecord& record : records) {
        // Only a key with CR can finish the line: the copy is taken for those alone, so a long
        // line costs no copy per key.
        if (record.eventType == kKeyEvent && record.event.key.asciiChar == '\r') {
            before = editor.Line();
        }
        std::string echo;
        const bool finished = editor.Take(record, echo);
        Check(editor, echo);
        if (finished != editor.HasText()) {
            Fail("a finished line and the text waiting for the reader disagree");
        }
        if (!finished) {
            continue;
        }
        if (!editor.Line().empty() || editor.Cursor() != 0) {
            Fail("a new line does not start empty");
        }
        std::string delivered;
        char buffer[256];
        while (editor.HasText()) {
            const uint32_t got = editor.Deliver(buffer, piece);
            if (got == 0 || got > piece) {
                Fail("a piece of the line is empty or larger than asked");
            }
            delivered.append(buffer, got);
        }
        if (delivered != before + "\r\n") {
            Fail("the delivered line is not the edited line plus CR LF");
        }
    }
    return 0;
}
