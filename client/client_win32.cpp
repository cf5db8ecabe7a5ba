// Windows side of the client: a paging-file backed named mapping and two named manual-reset
// events, conproxy started with CreateProcessA. The reply wait wakes now and then to notice a
// server that has ended, so no caller hangs on a dead one.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0501
#endif
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <utility>

#include "conproxy_client.h"

namespace conclient {
namespace {

constexpr size_t kMaxSuffixBytes = 72;  // "Mapping" + suffix must fit an 80-char buffer
constexpr DWORD kLivenessSliceMs = 50;

class Deadline {
  public:
    explicit Deadline(int timeoutMs)
        : end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs)) {}
    bool Expired() const { return std::chrono::steady_clock::now() >= end_; }
    DWORD RemainingMs() const {
        // Rounded up: a last fraction of a millisecond must not become a zero-length wait that
        // spins.
        auto left =
            std::chrono::ceil<std::chrono::milliseconds>(end_ - std::chrono::steady_clock::now());
        return left.count() < 0 ? 0 : static_cast<DWORD>(left.count());
    }

  private:
    std::chrono::steady_clock::time_point end_;
};

// Move-only owner of a kernel handle.
class OwnedHandle {
  public:
    OwnedHandle() = default;
    explicit OwnedHandle(HANDLE h) : h_(h) {}
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    OwnedHandle(OwnedHandle&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
    OwnedHandle& operator=(OwnedHandle&& o) noexcept {
        if (this != &o) {
            Close();
            h_ = std::exchange(o.h_, nullptr);
        }
        return *this;
    }
    ~OwnedHandle() { Close(); }
    HANDLE Get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }

  private:
    void Close() {
        if (h_ != nullptr && h_ != INVALID_HANDLE_VALUE)
            CloseHandle(h_);
        h_ = nullptr;
    }
    HANDLE h_ = nullptr;
};

std::string LastError(const std::string& what) {
    return what + ": error " + std::to_string(GetLastError());
}

// Windows quoting for one argument of a CreateProcess command line.
std::string Quote(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos)
        return arg;
    std::string out = "\"";
    size_t slashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        if (c == '"')
            out.append(slashes * 2 + 1, '\\');
        else
            out.append(slashes, '\\');
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, '\\');
    return out + "\"";
}

}  // namespace

extern std::atomic<bool> gStopWaiting;

struct ConproxyClient::Impl {
    ClientNames names;
    OwnedHandle mapping;
    uint8_t* view = nullptr;
    OwnedHandle requestEvent;
    OwnedHandle replyEvent;
    OwnedHandle process;
    DWORD processId = 0;
    ServerExit exit;

    ~Impl() {
        if (view != nullptr)
            UnmapViewOfFile(view);
    }

    bool ServerEnded() {
        if (!process)
            return false;
        if (exit.ended)
            return true;
        if (WaitForSingleObject(process.Get(), 0) != WAIT_OBJECT_0)
            return false;
        DWORD code = 0;
        GetExitCodeProcess(process.Get(), &code);
        exit.ended = true;
        exit.exited = true;
        exit.code = static_cast<int>(code);
        return true;
    }

    WaitResult WaitReply(int timeoutMs) {
        if (!replyEvent)
            return WaitResult::kFailed;
        Deadline deadline(timeoutMs);
        for (;;) {
            if (gStopWaiting.load())
                return WaitResult::kStopped;
            DWORD slice = std::min(deadline.RemainingMs(), kLivenessSliceMs);
            DWORD r = WaitForSingleObject(replyEvent.Get(), slice);
            if (r == WAIT_OBJECT_0)
                return WaitResult::kReplied;
            if (r != WAIT_TIMEOUT)
                return WaitResult::kFailed;
            if (ServerEnded()) {
                return WaitForSingleObject(replyEvent.Get(), 0) == WAIT_OBJECT_0
                           ? WaitResult::kReplied
                           : WaitResult::kServerDied;
            }
            if (deadline.Expired())
                return WaitResult::kTimedOut;
        }
    }
};

ConproxyClient::ConproxyClient() : impl_(new Impl) {}

ConproxyClient::~ConproxyClient() {
    if (impl_->process && !impl_->ServerEnded()) {
        TerminateProcess(impl_->process.Get(), 1);
        WaitForSingleObject(impl_->process.Get(), INFINITE);
    }
}

bool ConproxyClient::Open(const ClientNames& names, std::string* error) {
    if (names.suffix.size() > kMaxSuffixBytes || names.requestEvent.empty() ||
        names.replyEvent.empty()) {
        *error = "unusable name (empty or too long)";
        return false;
    }
    impl_->names = names;
    std::string regionName = "Mapping" + names.suffix;
    impl_->mapping =
        OwnedHandle(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_COMMIT,
                                       0, kRegionBytes, regionName.c_str()));
    if (!impl_->mapping) {
        *error = LastError(regionName);
        return false;
    }
    impl_->view = static_cast<uint8_t*>(
        MapViewOfFile(impl_->mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, kRegionBytes));
    if (impl_->view == nullptr) {
        *error = LastError(regionName);
        return false;
    }
    impl_->requestEvent =
        OwnedHandle(CreateEventA(nullptr, TRUE, FALSE, names.requestEvent.c_str()));
    impl_->replyEvent = OwnedHandle(CreateEventA(nullptr, TRUE, FALSE, names.replyEvent.c_str()));
    if (!impl_->requestEvent || !impl_->replyEvent) {
        *error = LastError("event");
        return false;
    }
    return true;
}

bool ConproxyClient::StartServer(const StartOptions& options, std::string* error) {
    std::vector<std::string> args = {impl_->names.suffix, impl_->names.requestEvent,
                                     impl_->names.replyEvent};
    if (options.argsOverride)
        args = *options.argsOverride;
    std::string commandLine = Quote(options.serverPath);
    for (const auto& a : args) commandLine += " " + Quote(a);
    std::vector<char> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back('\0');

    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    std::memset(&info, 0, sizeof info);
    // The server shares our console: that is the console it serves.
    if (!CreateProcessA(options.serverPath.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &info)) {
        *error = LastError(options.serverPath);
        return false;
    }
    CloseHandle(info.hThread);
    impl_->process = OwnedHandle(info.hProcess);
    impl_->processId = info.dwProcessId;
    impl_->exit = ServerExit{};
    return true;
}

WaitResult ConproxyClient::WaitReady(int timeoutMs) {
    return impl_->WaitReply(ReplyTimeout(timeoutMs));
}

WaitResult ConproxyClient::Transact(ConsoleRequest* request, int timeoutMs) {
    if (impl_->view == nullptr)
        return WaitResult::kFailed;
    // Reset before the request is announced: a reset after it could erase the answer.
    ResetEvent(impl_->replyEvent.Get());
    std::memcpy(impl_->view, request, sizeof *request);
    SetEvent(impl_->requestEvent.Get());
    WaitResult r = impl_->WaitReply(ReplyTimeout(timeoutMs));
    if (r == WaitResult::kReplied)
        std::memcpy(request, impl_->view, sizeof *request);
    return r;
}

uint8_t* ConproxyClient::Region() {
    return impl_->view;
}
const ClientNames& ConproxyClient::Names() const {
    return impl_->names;
}
void ConproxyClient::SetRequestEvent() {
    SetEvent(impl_->requestEvent.Get());
}
void ConproxyClient::ResetReplyEvent() {
    ResetEvent(impl_->replyEvent.Get());
}
bool ConproxyClient::ReplyEventIsSet() {
    return WaitForSingleObject(impl_->replyEvent.Get(), 0) == WAIT_OBJECT_0;
}
long ConproxyClient::ServerPid() const {
    return static_cast<long>(impl_->processId);
}

ServerExit ConproxyClient::WaitServerExit(int timeoutMs) {
    if (impl_->process && !impl_->exit.ended) {
        WaitForSingleObject(impl_->process.Get(), static_cast<DWORD>(timeoutMs));
        impl_->ServerEnded();
    }
    return impl_->exit;
}

void ConproxyClient::SignalServer(int) {
    if (impl_->process && !impl_->ServerEnded())
        TerminateProcess(impl_->process.Get(), 1);
}

ClientNames UniqueNames() {
    static std::atomic<unsigned> counter{0};
    std::string stem =
        "cpx" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter);
    return {stem, stem + "_req", stem + "_rep"};
}

std::string DefaultServerPath(const char*) {
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    std::string path(self, n < sizeof self ? n : 0);
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? "conproxy.exe" : path.substr(0, slash + 1) + "conproxy.exe";
}

namespace {
BOOL WINAPI StopHandler(DWORD) {
    StopWaiting();
    return TRUE;  // handled: the waits end and the program leaves through its destructors
}
}  // namespace

void StopWaitingOnSignals() {
    SetConsoleCtrlHandler(StopHandler, TRUE);
}

}  // namespace conclient
