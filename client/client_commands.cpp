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

constexpr char kRegionPrefix[] = "Mapping";
// The server keeps "Mapping" + suffix in an 80-byte buffer.
constexpr size_t kMaxSuffixBytes = 72;
constexpr size_t kMaxNameBytes = 250;

bool NameIsUsable(const std::string& name) {
    return !name.empty() && name.size() <= kMaxNameBytes && name.find('/') == std::string::npos &&
           name.find('\\') == std::string::npos;
}

}  // namespace

std::atomic<bool> gStopWaiting{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from signal handlers");

void StopWaiting() {
    gStopWaiting.store(true);
}

InputRecord DecodeInputRecord(const uint8_t* b) {
    InputRecord r;
    r.eventType = U16(b + 0);
    if (r.eventType == kKeyEvent) {
        r.keyDown = U32(b + 4) != 0;
        r.repeatCount = U16(b + 8);
        r.virtualKeyCode = U16(b + 10);
        r.virtualScanCode = U16(b + 12);
        r.asciiChar = b[14];
        r.controlKeyState = U32(b + 16);
    } else if (r.eventType == kWindowBufferSizeEvent) {
        r.sizeX = I16(b + 4);
        r.sizeY = I16(b + 6);
    }
    return r;
}

ScreenInfo DecodeScreenInfo(const uint8_t* b) {
    ScreenInfo s;
    s.sizeX = I16(b + 0);
    s.sizeY = I16(b + 2);
    s.cursorX = I16(b + 4);
    s.cursorY = I16(b + 6);
    s.attributes = U16(b + 8);
    s.left = I16(b + 10);
    s.top = I16(b + 12);
    s.right = I16(b + 14);
    s.bottom = I16(b + 16);
    s.maxX = I16(b + 18);
    s.maxY = I16(b + 20);
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

bool ConproxyClient::Open(const ClientNames& names, std::string* error) {
    const std::string regionName = kRegionPrefix + names.suffix;
    if (names.suffix.size() > kMaxSuffixBytes || !NameIsUsable(regionName) ||
        !NameIsUsable(names.requestEvent) || !NameIsUsable(names.replyEvent)) {
        *error = "unusable name (empty, with '/' or '\\', or too long)";
        return false;
    }
    if (names.requestEvent == names.replyEvent || names.requestEvent == regionName ||
        names.replyEvent == regionName) {
        *error = "two of the names are the same";
        return false;
    }
    impl_->names = names;
    impl_->outOfStep = false;
    return impl_->link->Open(regionName, names.requestEvent, names.replyEvent, error);
}

bool ConproxyClient::StartServer(const StartOptions& options, std::string* error) {
    const ClientNames& names = impl_->names;
    return impl_->link->Spawn(
        {options.serverPath, names.suffix, names.requestEvent, names.replyEvent}, options,
        ServerStdio{}, error);
}

WaitResult ConproxyClient::WaitReady(int timeoutMs) {
    return impl_->link->WaitReply(ReplyTimeout(timeoutMs));
}

WaitResult ConproxyClient::InStep() {
    PlatformLink& link = *impl_->link;
    if (link.Region() == nullptr) {
        return WaitResult::kFailed;
    }
    if (impl_->outOfStep) {
        // The late reply has come since: the server waits for a request again.
        if (!link.ReplyEventIsSet()) {
            return WaitResult::kOutOfStep;
        }
        impl_->outOfStep = false;
    }
    return WaitResult::kReplied;
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
    const WaitResult step = InStep();
    return step != WaitResult::kReplied ? step : Send(request, timeoutMs);
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
    const WaitResult step = InStep();
    if (step != WaitResult::kReplied)
        return step;
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
    const WaitResult step = InStep();
    if (step != WaitResult::kReplied)
        return step;
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
    const WaitResult step = InStep();
    if (step != WaitResult::kReplied)
        return step;
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
        const WaitResult step = InStep();
        if (step != WaitResult::kReplied)
            return step;
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
