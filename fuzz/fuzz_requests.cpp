// Arbitrary region contents and console behaviour through HandleRequest. The region is a heap
// block of exactly the fuzzed size, so ASan sees any access past it; a fake console answers
// from the input and checks every buffer it is handed against the region. Afterwards the
// region must hold what the console delivered where the command puts it, and nothing else may
// have changed. The fake console behaves as a careless client and a faulty console may: during a
// call it may overwrite the request record (the handler must go by its own copy), shrink the
// region under a read that waited (nothing past the new end may be written), and its ReadText
// may claim more characters than it was asked for (the guard must hold).
//
// Input: 2 bytes region size (little-endian, modulo 8193), 1 byte script length, the script the
// fake console answers from, then the region's bytes (zero-filled or cut to its size).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "console.h"
#include "request_handlers.h"

namespace {

using namespace conproxy;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_requests: %s\n", what);
    std::abort();
}

// The fake console's answers, taken from the input in the order it is asked; zeros when the
// script runs out.
class Script {
  public:
    Script(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t Byte() { return position_ < size_ ? data_[position_++] : 0; }
    bool Succeeds() { return (Byte() & 1) == 0; }  // an empty script: every call succeeds
    std::uint32_t Word() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            value = (value << 8) | Byte();
        }
        return value;
    }
    void Fill(void* target, std::size_t size) {
        auto* bytes = static_cast<std::uint8_t*>(target);
        for (std::size_t i = 0; i < size; ++i) {
            bytes[i] = Byte();
        }
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

enum class Call {
    GetScreenInfo,
    FillBlanks,
    SetCursor,
    PeekInput,
    ReadInput,
    ReadText,
    WriteText,
    ShowMessage
};

// What the handler asked for and what the fake answered.
struct CallRecord {
    explicit CallRecord(Call kind) : call(kind) {}
    Call call;
    bool ok = false;
    std::uint32_t count = 0;  // cells, records or characters delivered, or size asked
    ConsoleCoord at{};
    const char* buffer = nullptr;
    ConsoleScreenBufferInfo info{};
    InputRecord record{};
    std::vector<unsigned char> text;  // characters delivered by ReadText, or handed to WriteText
    std::uint32_t claimed = 0;        // the count ReadText claimed
};

// The region as the handler measures it: its size may drop during a read.
class FuzzedRegion : public RequestRegion {
  public:
    FuzzedRegion(unsigned char* bytes, std::size_t size) : bytes_(bytes), size_(size) {}
    unsigned char* Data() const override { return bytes_; }
    std::size_t Size() const override { return size_; }
    void Shrink(std::size_t size) { size_ = std::min(size_, size); }

  private:
    unsigned char* bytes_;
    std::size_t size_;
};

class FakeConsole : public Console {
  public:
    FakeConsole(Script& script, unsigned char* region, std::size_t regionSize,
                FuzzedRegion& measured)
        : script_(script), region_(region), regionSize_(regionSize), measured_(measured) {}

    std::vector<unsigned char> scribbledRecord;  // the record as the last overwrite left it
    std::size_t shrunkTo = SIZE_MAX;             // the region's size after a shrink, if any

    std::vector<CallRecord> calls;

    bool GetScreenInfo(ConsoleScreenBufferInfo& info) override {
        CallRecord call(Call::GetScreenInfo);
        call.ok = script_.Succeeds();
        // Even a failed call may leave rubbish behind: the handler must not use it.
        script_.Fill(&info, sizeof info);
        call.info = info;
        calls.push_back(call);
        Scribble();
        return call.ok;
    }
    bool FillBlanks(uint32_t cells, ConsoleCoord at) override {
        CallRecord call(Call::FillBlanks);
        call.count = cells;
        call.at = at;
        call.ok = script_.Succeeds();
        calls.push_back(call);
        Scribble();
        return call.ok;
    }
    bool SetCursor(ConsoleCoord at) override {
        CallRecord call(Call::SetCursor);
        call.at = at;
        call.ok = script_.Succeeds();
        calls.push_back(call);
        Scribble();
        return call.ok;
    }
    bool PeekInput(InputRecord& record, uint32_t& count) override {
        return Input(Call::PeekInput, record, count);
    }
    bool ReadInput(InputRecord& record, uint32_t& count) override {
        return Input(Call::ReadInput, record, count);
    }
    bool ReadText(char* buffer, uint32_t size, uint32_t& count) override {
        CallRecord call(Call::ReadText);
        call.buffer = buffer;
        call.ok = script_.Succeeds();
        if (call.ok) {
            // Up to the count asked (a line shorter than the buffer, or one that fills it), or,
            // from a faulty console, a claim of a few more than that.
            count = static_cast<uint32_t>(script_.Word() % (std::uint64_t{size} + 4));
            const uint32_t written = std::min(count, size);
            const std::uint8_t seed = script_.Byte();
            // Every byte of the buffer it was handed: ASan sees a buffer shorter than asked.
            for (uint32_t i = 0; i < size; ++i) {
                buffer[i] = static_cast<char>(seed + i);
            }
            call.text.assign(buffer, buffer + written);
            call.claimed = count;
        } else {
            count = script_.Word();  // what a failed call leaves carries no meaning
        }
        call.count = size;
        calls.push_back(call);
        Scribble();
        MaybeShrink();
        return call.ok;
    }
    bool WriteText(const char* data, uint32_t size) override {
        CheckOutsideRegion(data, size, "WriteText was handed the region itself");
        CallRecord call(Call::WriteText);
        call.buffer = data;
        call.count = size;
        call.text.assign(data, data + size);  // reads every byte it was given
        call.ok = script_.Succeeds();
        calls.push_back(call);
        Scribble();
        return call.ok;
    }
    bool ShowMessage(const std::string& line) override {
        CallRecord call(Call::ShowMessage);
        call.text.assign(line.begin(), line.end());
        call.ok = script_.Succeeds();
        calls.push_back(call);
        return call.ok;
    }

  private:
    bool Input(Call kind, InputRecord& record, uint32_t& count) {
        CallRecord call(kind);
        call.ok = script_.Succeeds();
        if (call.ok) {
            // Peek may find nothing waiting; a read always delivers one record.
            count = kind == Call::ReadInput ? 1 : (script_.Byte() & 1);
            script_.Fill(&record, sizeof record);
        } else {
            count = script_.Word();
        }
        call.count = count;
        call.record = record;
        calls.push_back(call);
        Scribble();
        if (kind == Call::ReadInput) {
            MaybeShrink();
        }
        return call.ok;
    }

    // A client writing a new record while the command runs (one script byte decides).
    void Scribble() {
        if ((script_.Byte() & 0x0F) != 0x0F) {
            return;
        }
        scribbledRecord.resize(sizeof(ConsoleRequest));
        script_.Fill(scribbledRecord.data(), scribbledRecord.size());
        std::memcpy(region_, scribbledRecord.data(), scribbledRecord.size());
    }

    // A client shrinking the region while a read waited for keys.
    void MaybeShrink() {
        const std::uint8_t byte = script_.Byte();
        if ((byte & 0x07) != 0x07) {
            return;
        }
        shrunkTo = std::min(shrunkTo, (std::size_t{script_.Byte()} << 5) % (regionSize_ + 1));
        measured_.Shrink(shrunkTo);
    }

    // A console call works on the server's own copy: the client may cut the region while the
    // call waits (for the terminal's cursor answer, say). The copy's own bounds are ASan's to
    // check, since the call reads every byte it is given.
    void CheckOutsideRegion(const char* data, uint32_t size, const char* what) const {
        // As addresses: the pointer may come from anywhere.
        const auto at = reinterpret_cast<std::uintptr_t>(data);
        const auto begin = reinterpret_cast<std::uintptr_t>(region_);
        if (at < begin + regionSize_ && begin < at + size) {
            Fail(what);
        }
    }

    Script& script_;
    unsigned char* region_;
    std::size_t regionSize_;
    FuzzedRegion& measured_;
};

constexpr std::size_t kStatusAt = offsetof(ConsoleRequest, status);
constexpr std::size_t kResultAt = offsetof(ConsoleRequest, result);

std::uint32_t Load32(const unsigned char* bytes) {
    std::uint32_t value = 0;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// The checks after one request: before is the region as the client left it.
class Expectation {
  public:
    // The request comes from before; base is before with what the console overwrote meanwhile
    // (the record), against which unchanged bytes are compared.
    Expectation(const std::vector<unsigned char>& before, const std::vector<unsigned char>& base,
                const unsigned char* after, const std::vector<CallRecord>& calls)
        : before_(base), after_(after), calls_(calls) {
        std::memcpy(&request_, before.data(), sizeof request_);
    }

    const ConsoleRequest& Request() const { return request_; }

    // The data area of length bytes at dataOffset, when it lies wholly inside the region.
    bool DataInRegion(std::uint64_t length) const {
        return request_.dataOffset >= 0 &&
               static_cast<std::uint64_t>(request_.dataOffset) + length <= before_.size();
    }
    std::size_t DataAt() const { return static_cast<std::size_t>(request_.dataOffset); }

    void Allow(std::size_t at, std::size_t length) {
        allowed_.emplace_back(at, std::min(at + length, before_.size()));
    }

    const CallRecord& OnlyCall(Call kind) const {
        if (calls_.size() != 1 || calls_[0].call != kind) {
            Fail("the console was not called exactly once, as the command needs");
        }
        return calls_[0];
    }
    void NoCalls(const char* what) const {
        if (!calls_.empty()) {
            Fail(what);
        }
    }

    // The bytes at the data offset now equal expected, except where the request's result field
    // was written after them.
    void DataEquals(const void* expected, std::size_t length, bool skipResult) const {
        const auto* bytes = static_cast<const unsigned char*>(expected);
        for (std::size_t i = 0; i < length; ++i) {
            const std::size_t at = DataAt() + i;
            if (skipResult && at >= kResultAt && at < kResultAt + 4) {
                continue;
            }
            if (after_[at] != bytes[i]) {
                Fail("the data area does not hold what the console delivered");
            }
        }
    }
    void DataUnchanged(std::size_t from, std::size_t length, bool skipResult) const {
        for (std::size_t i = from; i < length; ++i) {
            const std::size_t at = DataAt() + i;
            if (skipResult && at >= kResultAt && at < kResultAt + 4) {
                continue;
            }
            if (after_[at] != before_[at]) {
                Fail("bytes of the data area changed that the console did not deliver");
            }
        }
    }

    std::uint32_t Result() const { return Load32(after_ + kResultAt); }

    // Compared gap by gap between the allowed areas: a byte-by-byte walk of 8 KiB on every run
    // costs most of the fuzzer's speed.
    void NothingElseChanged() {
        std::sort(allowed_.begin(), allowed_.end());
        std::size_t from = 0;
        auto checkGap = [&](std::size_t to) {
            if (to > from && std::memcmp(after_ + from, before_.data() + from, to - from) != 0) {
                Fail("a byte changed outside the data area and the fields the command writes");
            }
        };
        for (const auto& [begin, end] : allowed_) {
            checkGap(begin);
            from = std::max(from, end);
        }
        checkGap(before_.size());
    }

  private:
    const std::vector<unsigned char>& before_;
    const unsigned char* after_;
    const std::vector<CallRecord>& calls_;
    std::vector<std::pair<std::size_t, std::size_t>> allowed_;  // [begin, end) that may change
    ConsoleRequest request_{};
};

void CheckClearScreen(Expectation& e, const std::vector<CallRecord>& calls,
                      const unsigned char* after) {
    if (calls.empty() || calls[0].call != Call::GetScreenInfo) {
        Fail("ConClearScreen did not ask for the screen information first");
    }
    const ConsoleScreenBufferInfo& info = calls[0].info;
    const std::int32_t cells = std::int32_t{info.size.x} * std::int32_t{info.size.y};
    std::size_t next = 1;
    if (calls[0].ok && cells > 0) {
        if (calls.size() <= next || calls[next].call != Call::FillBlanks ||
            calls[next].count != static_cast<std::uint32_t>(cells) || calls[next].at.x != 0 ||
            calls[next].at.y != 0) {
            Fail("ConClearScreen did not blank width x height cells from the top left");
        }
        ++next;
    }
    if (calls.size() != next + 1 || calls[next].call != Call::SetCursor || calls[next].at.x != 0 ||
        calls[next].at.y != 0) {
        Fail("ConClearScreen did not end by homing the cursor (or filled without a size)");
    }
    if (Load32(after + kStatusAt) != 0) {
        Fail("ConClearScreen left status non-zero");
    }
    e.Allow(kStatusAt, 4);
}

void CheckInputRecord(Expectation& e, Call kind) {
    e.Allow(kResultAt, 4);
    if (!e.DataInRegion(sizeof(InputRecord))) {
        e.NoCalls("an input record was read for a data area outside the region");
        if (e.Result() != 0 && e.Result() != e.Request().result) {
            Fail("result holds a count although nothing was read");
        }
        return;
    }
    const CallRecord& call = e.OnlyCall(kind);
    e.Allow(e.DataAt(), sizeof(InputRecord));
    const std::uint32_t delivered = call.ok ? call.count : 0;
    if (e.Result() != delivered) {
        Fail("result is not the number of records delivered");
    }
    if (delivered == 1) {
        e.DataEquals(&call.record, sizeof call.record, true);
    } else {
        e.DataUnchanged(0, sizeof(InputRecord), true);
    }
}

void CheckReadText(Expectation& e, const unsigned char* region) {
    e.Allow(kResultAt, 4);
    const std::uint32_t asked = e.Request().count;
    if (!e.DataInRegion(asked)) {
        e.NoCalls("text was read for a data area outside the region");
        if (e.Result() != 0 && e.Result() != e.Request().result) {
            Fail("result holds a count although nothing was read");
        }
        return;
    }
    const CallRecord& call = e.OnlyCall(Call::ReadText);
    if (call.count != asked) {
        Fail("ReadText was not handed the count asked");
    }
    (void)region;
    e.Allow(e.DataAt(), asked);
    // A claim beyond the count asked is no delivery.
    const std::size_t delivered = call.ok && call.claimed <= asked ? call.text.size() : 0;
    if (e.Result() != delivered) {
        Fail("result is not the number of characters delivered");
    }
    e.DataEquals(call.text.data(), delivered, true);
    e.DataUnchanged(delivered, asked, true);
}

void CheckWriteText(Expectation& e, const std::vector<unsigned char>& before,
                    const std::vector<CallRecord>& calls) {
    const std::uint32_t size = e.Request().count;
    if (!e.DataInRegion(size)) {
        e.NoCalls("text was written from a data area outside the region");
        return;
    }
    if (size == 0 && calls.empty()) {
        return;  // nothing to write may skip the call
    }
    const CallRecord& call = e.OnlyCall(Call::WriteText);
    // A copy of the data area, not the area itself (checked as the call came): the same bytes.
    if (call.count != size ||
        !std::equal(call.text.begin(), call.text.end(), before.begin() + e.DataAt())) {
        Fail("WriteText was not handed the data area as the client left it");
    }
}

// After a shrink during a read the handler may write nothing at or past the new end; inside it,
// the command's fields and data as usual where they still fit.
void CheckShrunk(const std::vector<unsigned char>& base, const unsigned char* after,
                 std::size_t shrunkTo) {
    if (std::memcmp(after + shrunkTo, base.data() + shrunkTo, base.size() - shrunkTo) != 0) {
        Fail("a byte past the shrunk region's end was written");
    }
}

void CheckRequest(const std::vector<unsigned char>& before, const std::vector<unsigned char>& base,
                  const unsigned char* after, const std::vector<CallRecord>& calls,
                  bool exitReturned, std::size_t shrunkTo) {
    Expectation e(before, base, after, calls);
    const ConsoleRequest& request = e.Request();
    if (shrunkTo != SIZE_MAX) {
        CheckShrunk(base, after, shrunkTo);
        // What still fits is checked as usual; a data area the shrink cut is left alone, with no
        // count in result.
        const std::uint64_t length =
            request.command == ConReadText ? request.count : sizeof(InputRecord);
        const bool recordFits = kResultAt + 4 <= shrunkTo;
        if (!recordFits || request.dataOffset < 0 ||
            static_cast<std::uint64_t>(request.dataOffset) + length > shrunkTo) {
            if (recordFits && e.DataInRegion(length) && Load32(after + kResultAt) != 0) {
                Fail("result holds a count for a data area the shrink cut");
            }
            return;
        }
    }
    if (exitReturned != (request.command == ConExit)) {
        Fail("HandleRequest's answer does not say whether the command was ConExit");
    }
    switch (request.command) {
        case ConClearScreen:
            CheckClearScreen(e, calls, after);
            break;
        case ConExit:
            e.NoCalls("ConExit touched the console");
            if (Load32(after + kStatusAt) != 0) {
                Fail("ConExit left status non-zero");
            }
            e.Allow(kStatusAt, 4);
            break;
        case ConGetScreenInfo:
            if (!e.DataInRegion(sizeof(ConsoleScreenBufferInfo))) {
                e.NoCalls("screen information was got for a data area outside the region");
                break;
            }
            e.Allow(e.DataAt(), sizeof(ConsoleScreenBufferInfo));
            if (e.OnlyCall(Call::GetScreenInfo).ok) {
                e.DataEquals(&calls[0].info, sizeof calls[0].info, false);
            } else {
                e.DataUnchanged(0, sizeof(ConsoleScreenBufferInfo), false);
            }
            break;
        case ConSetCursor: {
            const CallRecord& call = e.OnlyCall(Call::SetCursor);
            if (call.at.x != static_cast<std::int16_t>(request.dataOffset & 0xFFFF) ||
                call.at.y != static_cast<std::int16_t>(request.count & 0xFFFF)) {
                Fail("ConSetCursor did not take the low halves as column and row");
            }
            break;
        }
        case ConPeekInput:
            CheckInputRecord(e, Call::PeekInput);
            break;
        case ConReadInput:
            CheckInputRecord(e, Call::ReadInput);
            break;
        case ConReadText:
            CheckReadText(e, after);
            break;
        case ConWriteText:
            CheckWriteText(e, before, calls);
            break;
        case ConNop5:
        case ConNop10:
            e.NoCalls("a no-op touched the console");
            break;
        default: {  // unknown codes: the line that names them, nothing else
            char line[48];
            std::snprintf(line, sizeof line, "***error*** Unknown command: %x",
                          static_cast<unsigned>(static_cast<std::uint32_t>(request.command)));
            const CallRecord& call = e.OnlyCall(Call::ShowMessage);
            if (std::string(call.text.begin(), call.text.end()) != line) {
                Fail("an unknown code was not shown by its number");
            }
            break;
        }
    }
    e.NothingElseChanged();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    const std::size_t regionSize = (data[0] | (std::size_t{data[1]} << 8)) % (kRegionBytes + 1);
    const std::size_t scriptSize = std::min<std::size_t>(data[2], size - 3);
    Script script(data + 3, scriptSize);
    const std::uint8_t* contents = data + 3 + scriptSize;
    const std::size_t contentsSize = std::min(size - 3 - scriptSize, regionSize);

    // Exactly regionSize bytes on the heap: one byte past it is a fault ASan reports.
    std::unique_ptr<unsigned char[]> region(new unsigned char[regionSize]);
    std::memset(region.get(), 0, regionSize);
    std::memcpy(region.get(), contents, contentsSize);
    const std::vector<unsigned char> before(region.get(), region.get() + regionSize);

    FuzzedRegion measured(region.get(), regionSize);
    FakeConsole console(script, region.get(), regionSize, measured);
    const bool exitReturned = HandleRequest(measured, console);
    std::vector<unsigned char> base = before;
    if (!console.scribbledRecord.empty() && regionSize >= sizeof(ConsoleRequest)) {
        std::memcpy(base.data(), console.scribbledRecord.data(), console.scribbledRecord.size());
    }

    if (regionSize < sizeof(ConsoleRequest)) {
        // No request fits: nothing may be read as one.
        if (exitReturned || !console.calls.empty() ||
            !std::equal(before.begin(), before.end(), region.get())) {
            Fail("a region too small for a request was served");
        }
        return 0;
    }
    CheckRequest(before, base, region.get(), console.calls, exitReturned, console.shrunkTo);
    return 0;
}
