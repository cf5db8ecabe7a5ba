// The turn with the server, the names, and the ten console commands on top of it, over the
// platform primitives of client_platform.h; and the decoding of the two Windows records that
// conproxy leaves in the region. No platform code here.
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "client_platform.h"
#include "conproxy_client.h"

namespace conclient {
namespace {

uint16_t U16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
int16_t I16(const uint8_t* p) {
    return static_cast<int16_t>(U16(p));
}
uint32_t U32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

ConsoleRequest MakeRequest(int32_t command, int32_t dataOffset, uint32_t count) {
    ConsoleRequest r{};
    r.command = command;
    r.dataOffset = dataOffset;
    r.count = count;
    return r;
}

conproxy_protocol::ObjectNames ProtocolNames(const ClientNames& names) {
    return {names.suffix, names.requestEvent, names.replyEvent};
}

}  // namespace

std::atomic<bool> gStopWaiting{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from signal handlers");

void StopWaiting() {
    gStopWaiting.store(true);
}

// Offsets from the protocol's layout of the two records, read little-endian.
InputRecord DecodeInputRecord(const uint8_t* b) {
    using Wire = conproxy_protocol::InputRecord;
    using Key = conproxy_protocol::KeyEventRecord;
    constexpr size_t kEvent = offsetof(Wire, event);
    InputRecord r;
    r.eventType = U16(b + offsetof(Wire, eventType));
    if (r.eventType == kKeyEvent) {
        r.keyDown = U32(b + kEvent + offsetof(Key, keyDown)) != 0;
        r.repeatCount = U16(b + kEvent + offsetof(Key, repeatCount));
        r.virtualKeyCode = U16(b + kEvent + offsetof(Key, virtualKeyCode));
        r.virtualScanCode = U16(b + kEvent + offsetof(Key, virtualScanCode));
        r.asciiChar = b[kEvent + offsetof(Key, asciiChar)];
        r.controlKeyState = U32(b + kEvent + offsetof(Key, controlKeyState));
    } else if (r.eventType == kWindowBufferSizeEvent) {
        constexpr size_t kSize = kEvent + offsetof(conproxy_protocol::WindowBufferSizeRecord, size);
        r.sizeX = I16(b + kSize + offsetof(conproxy_protocol::ConsoleCoord, x));
        r.sizeY = I16(b + kSize + offsetof(conproxy_protocol::ConsoleCoord, y));
    }
    return r;
}

ScreenInfo DecodeScreenInfo(const uint8_t* b) {
    using Wire = conproxy_protocol::ConsoleScreenBufferInfo;
    using Coord = conproxy_protocol::ConsoleCoord;
    using Rect = conproxy_protocol::ConsoleRect;
    constexpr size_t kX = offsetof(Coord, x);
    constexpr size_t kY = offsetof(Coord, y);
    constexpr size_t kWindow = offsetof(Wire, window);
    ScreenInfo s;
    s.sizeX = I16(b + offsetof(Wire, size) + kX);
    s.sizeY = I16(b + offsetof(Wire, size) + kY);
    s.cursorX = I16(b + offsetof(Wire, cursorPosition) + kX);
    s.cursorY = I16(b + offsetof(Wire, cursorPosition) + kY);
    s.attributes = U16(b + offsetof(Wire, attributes));
    s.left = I16(b + kWindow + offsetof(Rect, left));
    s.top = I16(b + kWindow + offsetof(Rect, top));
    s.right = I16(b + kWindow + offsetof(Rect, right));
    s.bottom = I16(b + kWindow + offsetof(Rect, bottom));
    s.maxX = I16(b + offsetof(Wire, maximumWindowSize) + kX);
    s.maxY = I16(b + offsetof(Wire, maximumWindowSize) + kY);
    return s;
}

const char* WaitResultName(WaitResult r) {
    switch (r) {
        case WaitResult::kReplied:
            return "replied";
        case WaitResult::kTimedOut:
            return "timeout";
        case WaitResult::kServerDied:
            return "server ended";
        case WaitResult::kFailed:
            return "wait failed";
        case WaitResult::kStopped:
            return "interrupted";
        case WaitResult::kOutOfStep:
            return "out of step: an earlier reply never came; open the client again";
    }
    return "?";
}

ConproxyClient::ConproxyClient() : impl_(new Impl) {}

// The link's owner kills a server we started that is still running and removes our names.
ConproxyClient::~ConproxyClient() = default;

// The rules every platform shares are the protocol's, applied before anything is made; the
// platform's own (POSIX: no '/', at most 250 bytes) fail in the link's Open as its calls do.
bool ConproxyClient::Open(const ClientNames& names, std::string* error) {
    const conproxy_protocol::NameFault fault = conproxy_protocol::CheckNames(ProtocolNames(names));
    if (fault != conproxy_protocol::NameFault::kNone) {
        *error = std::string("unusable names: ") + conproxy_protocol::DescribeNameFault(fault);
        return false;
    }
    const std::string regionName = conproxy_protocol::RegionName(names.suffix);
    impl_->names = names;
    impl_->outOfStep = false;
    return impl_->link->Open(regionName, names.requestEvent, names.replyEvent, error);
}

bool ConproxyClient::StartServer(const StartOptions& options, std::string* error) {
    const ClientNames& names = impl_->names;
    return impl_->link->Spawn(
        conproxy_protocol::ServerArguments(options.serverPath, ProtocolNames(names)), options,
        ServerStdio{}, error);
}

WaitResult ConproxyClient::WaitReady(int timeoutMs) {
    return impl_->link->WaitReply(ReplyTimeout(timeoutMs));
}

bool ConproxyClient::MayTakeTurn(WaitResult* refusal) {
    PlatformLink& link = *impl_->link;
    if (link.Region() == nullptr) {
        *refusal = WaitResult::kFailed;
        return false;
    }
    if (impl_->outOfStep) {
        // The late reply has come since: the server waits for a request again.
        if (!link.ReplyEventIsSet()) {
            *refusal = WaitResult::kOutOfStep;
            return false;
        }
        impl_->outOfStep = false;
    }
    return true;
}

WaitResult ConproxyClient::Turn(int timeoutMs) {
    PlatformLink& link = *impl_->link;
    // Reset before the request is announced: a reset after it could erase the answer.
    link.ResetReplyEvent();
    link.SetRequestEvent();
    const WaitResult r = link.WaitReply(ReplyTimeout(timeoutMs));
    if (r == WaitResult::kTimedOut || r == WaitResult::kStopped) {
        impl_->outOfStep = true;
    }
    return r;
}

WaitResult ConproxyClient::Send(ConsoleRequest* request, int timeoutMs) {
    std::memcpy(Region(), request, sizeof *request);
    const WaitResult r = Turn(timeoutMs);
    if (r == WaitResult::kReplied) {
        std::memcpy(request, Region(), sizeof *request);
    }
    return r;
}

WaitResult ConproxyClient::Transact(ConsoleRequest* request, int timeoutMs) {
    WaitResult refusal;
    if (!MayTakeTurn(&refusal))
        return refusal;
    return Send(request, timeoutMs);
}

uint8_t* ConproxyClient::Region() {
    return impl_->link->Region();
}
const ClientNames& ConproxyClient::Names() const {
    return impl_->names;
}
long ConproxyClient::ServerPid() const {
    return impl_->link->ServerPid();
}
ServerExit ConproxyClient::WaitServerExit(int timeoutMs) {
    return impl_->link->WaitServerExit(timeoutMs);
}
void ConproxyClient::SignalServer(int signalNumber) {
    impl_->link->SignalServer(signalNumber);
}

ClientNames UniqueNames() {
    static std::atomic<unsigned> counter{0};
    char random[16];
    std::snprintf(random, sizeof random, "%08x", static_cast<unsigned>(RandomBits()));
    const std::string stem =
        "cpx" + std::to_string(ProcessId()) + "_" + random + "_" + std::to_string(++counter);
    return {stem, stem + "_req", stem + "_rep"};
}

WaitResult ConproxyClient::Raw(int32_t command, int32_t dataOffset, uint32_t count,
                               ConsoleRequest* out, int timeoutMs) {
    WaitResult refusal;
    if (!MayTakeTurn(&refusal))
        return refusal;
    // Only these three fields are ours; status and result go as they stand in the region.
    uint8_t* record = Region();
    std::memcpy(record + offsetof(ConsoleRequest, command), &command, sizeof command);
    std::memcpy(record + offsetof(ConsoleRequest, dataOffset), &dataOffset, sizeof dataOffset);
    std::memcpy(record + offsetof(ConsoleRequest, count), &count, sizeof count);
    const WaitResult w = Turn(timeoutMs);
    if (out != nullptr)
        std::memcpy(out, record, sizeof *out);
    return w;
}

WaitResult ConproxyClient::StatusRequest(int32_t command, int32_t* status) {
    ConsoleRequest r = MakeRequest(command, 0, 0);
    r.status = -1;  // so that a reply that leaves it alone shows
    WaitResult w = Transact(&r);
    if (status != nullptr)
        *status = r.status;
    return w;
}

WaitResult ConproxyClient::ClearScreen(int32_t* status) {
    return StatusRequest(ConClearScreen, status);
}

WaitResult ConproxyClient::Exit(int32_t* status) {
    return StatusRequest(ConExit, status);
}

WaitResult ConproxyClient::GetScreenInfo(ScreenInfo* info) {
    WaitResult refusal;
    if (!MayTakeTurn(&refusal))
        return refusal;
    std::memset(Region() + kDefaultDataOffset, 0, kScreenInfoBytes);
    ConsoleRequest r = MakeRequest(ConGetScreenInfo, kDefaultDataOffset, 0);
    WaitResult w = Send(&r, kClientReplyTimeout);
    if (w == WaitResult::kReplied)
        *info = DecodeScreenInfo(Region() + kDefaultDataOffset);
    return w;
}

WaitResult ConproxyClient::SetCursor(int16_t column, int16_t row) {
    ConsoleRequest r =
        MakeRequest(ConSetCursor, static_cast<uint16_t>(column), static_cast<uint16_t>(row));
    return Transact(&r);
}

WaitResult ConproxyClient::Nop(int32_t code) {
    ConsoleRequest r = MakeRequest(code, 0, 0);
    return Transact(&r);
}

WaitResult ConproxyClient::InputRecordRequest(int32_t command, InputRecord* record,
                                              uint32_t* result, int timeoutMs) {
    WaitResult refusal;
    if (!MayTakeTurn(&refusal))
        return refusal;
    std::memset(Region() + kDefaultDataOffset, 0, kInputRecordBytes);
    ConsoleRequest r = MakeRequest(command, kDefaultDataOffset, 0);
    r.result = 0xFFFFFFFFu;
    WaitResult w = Send(&r, timeoutMs);
    *result = r.result;
    if (w == WaitResult::kReplied && r.result == 1) {
        *record = DecodeInputRecord(Region() + kDefaultDataOffset);
    }
    return w;
}

WaitResult ConproxyClient::PeekInput(InputRecord* record, uint32_t* result) {
    return InputRecordRequest(ConPeekInput, record, result, kClientReplyTimeout);
}

WaitResult ConproxyClient::ReadInput(InputRecord* record, uint32_t* result, int timeoutMs) {
    return InputRecordRequest(ConReadInput, record, result, timeoutMs);
}

WaitResult ConproxyClient::ReadText(uint32_t count, std::string* text, int timeoutMs) {
    // At most what fits after the data offset; the rest of a line comes with the next read.
    uint32_t room = static_cast<uint32_t>(kRegionBytes - kDefaultDataOffset);
    if (count > room)
        count = room;
    ConsoleRequest r = MakeRequest(ConReadText, kDefaultDataOffset, count);
    WaitResult w = Transact(&r, timeoutMs);
    text->clear();
    if (w == WaitResult::kReplied) {
        uint32_t n = r.result <= count ? r.result : count;
        text->assign(reinterpret_cast<const char*>(Region() + kDefaultDataOffset), n);
    }
    return w;
}

WaitResult ConproxyClient::WriteText(const std::string& bytes) {
    // Longer text than the data area goes out in several requests rather than cut short.
    const size_t room = kRegionBytes - kDefaultDataOffset;
    size_t done = 0;
    do {
        WaitResult refusal;
        if (!MayTakeTurn(&refusal))
            return refusal;
        size_t n = bytes.size() - done < room ? bytes.size() - done : room;
        std::memcpy(Region() + kDefaultDataOffset, bytes.data() + done, n);
        ConsoleRequest r = MakeRequest(ConWriteText, kDefaultDataOffset, static_cast<uint32_t>(n));
        WaitResult w = Send(&r, kClientReplyTimeout);
        if (w != WaitResult::kReplied)
            return w;
        done += n;
    } while (done < bytes.size());
    return WaitResult::kReplied;
}

}  // namespace conclient
