#include "terminal_input_posix.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace conproxy {

namespace {

constexpr int kCursorReportTimeoutMs = 500;  // a terminal that has not answered by then won't
constexpr size_t kReadChunkBytes = 256;
// A pasted flood must not grow the queue without end: at this many records no more keys are
// decoded (a key's records are never split), and the bytes read are held undecoded, up to
// kMaxHeldBytes; then the rest waits in the terminal's own (kernel-bounded) buffer until the
// client takes some. Reading on while the queue is full lets a cursor report through.
constexpr size_t kMaxQueuedRecords = 4096;
constexpr size_t kMaxHeldBytes = 4096;

}  // namespace

void TerminalInput::WatchArrivals() {
    if (IsTerminal()) {
        arrivals_.Watch(STDIN_FILENO);  // unwatched, bytes count as come when read
    }
}

bool TerminalInput::Peek(InputRecord& record, uint32_t& count) {
    count = 0;
    if (!IsTerminal()) {
        return false;
    }
    Pump(0);
    if (!queue_.empty()) {
        record = queue_.front();
        count = 1;
    }
    return true;
}

bool TerminalInput::Take(InputRecord& record) {
    if (!IsTerminal()) {
        return false;
    }
    while (queue_.empty()) {
        if (!Pump(kWaitForever)) {
            return false;
        }
    }
    record = queue_.front();
    queue_.pop_front();
    return true;
}

// One query at most is on its way: a terminal that answers late (or never) gets no second, so
// no answer ever arrives unexpected and is taken for keys (ESC [ 1 ; 5 R is Ctrl+F3).
bool TerminalInput::QueryCursor(int& row, int& column) {
    if (!IsTerminal()) {
        return false;
    }
    if (decoder_.ExpectingCursorReport()) {
        Pump(0);
        if (decoder_.ExpectingCursorReport()) {
            return false;
        }
    }
    // The answer to an earlier query tells where the cursor was, not where it is.
    decoder_.TakeCursorReport(row, column);
    if (decoder_.HeldBytes() >= kMaxHeldBytes) {
        return false;
    }
    decoder_.ExpectCursorReport();
    if (!WriteAll(STDOUT_FILENO, "\x1b[6n", 4)) {
        return false;
    }
    const Deadline deadline(kCursorReportTimeoutMs);
    while (!decoder_.TakeCursorReport(row, column)) {
        if (deadline.Expired() || decoder_.HeldBytes() >= kMaxHeldBytes ||
            !Pump(deadline.RemainingMs())) {
            return false;
        }
    }
    return true;
}

// Waits up to waitMs (kWaitForever: no limit) for terminal input and turns what came into
// records. A window change queues nothing: a Windows console in its default input mode (window
// input off) delivers no size record either. False at end of input or on a read error.
bool TerminalInput::Pump(int waitMs) {
    if (decoder_.HeldBytes() > 0 && queue_.size() < kMaxQueuedRecords) {
        // Room again for held keys: input that has come already, nothing to wait for.
        const size_t queued = queue_.size();
        decoder_.Feed(nullptr, 0, queue_, kMaxQueuedRecords);
        if (queue_.size() > queued) {
            return true;
        }
    }
    if (decoder_.HasPending() && PauseLeftMs(InputArrivals::Clock::now()) == 0) {
        // The pause after the held bytes has passed already (a peek read them, then nothing came
        // in time): they are complete before any later key is read, or Esc and a key typed long
        // after it would join into Alt with that key.
        const size_t queued = queue_.size();
        decoder_.Flush(queue_, kMaxQueuedRecords);
        if (queue_.size() > queued) {
            return true;
        }
    }
    int timeoutMs = waitMs;
    if (decoder_.HasPending()) {
        const int pauseMs = PauseLeftMs(InputArrivals::Clock::now());
        if (timeoutMs < 0 || pauseMs < timeoutMs) {
            timeoutMs = pauseMs;
        }
    }
    // Full held bytes read nothing more; the wait then only runs out the time.
    const size_t room = kMaxHeldBytes - std::min(kMaxHeldBytes, decoder_.HeldBytes());
    pollfd input{STDIN_FILENO, static_cast<short>(room > 0 ? POLLIN : 0), 0};
    const int ready = poll(&input, 1, timeoutMs);
    if (ready < 0) {
        return errno == EINTR;
    }
    if (room > 0 && (input.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        char bytes[kReadChunkBytes];
        const ssize_t got =
            arrivals_.Read(STDIN_FILENO, bytes, std::min(room, sizeof bytes), runs_);
        if (got <= 0) {
            return false;
        }
        Decode(bytes);
    }
    if (decoder_.HasPending() && PauseLeftMs(InputArrivals::Clock::now()) == 0) {
        decoder_.Flush(queue_, kMaxQueuedRecords);
    }
    return true;
}

// Each run as it came: held bytes followed by a pause are complete before the next run joins
// them, however much later both are read.
void TerminalInput::Decode(const char* bytes) {
    for (const InputArrivals::Run& run : runs_) {
        if (decoder_.HasPending() && PauseLeftMs(run.came) == 0) {
            decoder_.Flush(queue_, kMaxQueuedRecords);
        }
        decoder_.Feed(bytes, run.size, queue_, kMaxQueuedRecords);
        bytes += run.size;
        lastCame_ = run.came;
    }
}

// What is left at `at` of the pause after the last bytes decoded, rounded up.
int TerminalInput::PauseLeftMs(InputArrivals::Clock::time_point at) const {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        lastCame_ + std::chrono::milliseconds(kEscapePauseMs) - at);
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace conproxy
