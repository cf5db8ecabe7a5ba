// Windows side of the client: a paging-file backed named mapping and two named manual-reset
// events, conproxy started with CreateProcessA. The reply wait wakes now and then to notice a
// server that has ended, so no caller hangs on a dead one.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0501
#endif
// rand_s is declared only on request.
#define _CRT_RAND_S
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <utility>

#include "client_platform.h"
#include "conproxy_client.h"
#include "named_object_win32.h"

namespace conclient {
namespace {

constexpr int kLivenessSliceMs = 50;

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

// The system's own words for an error, with its number for a search ("... (error 2)").
std::string SystemMessage(DWORD code) {
    char text[512];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             code, 0, text, sizeof text, nullptr);
    while (n > 0 &&
           (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ' || text[n - 1] == '.'))
        --n;
    const std::string words(text, n);
    return (words.empty() ? "error" : words + " (error") + " " + std::to_string(code) +
           (words.empty() ? "" : ")");
}

std::string LastError(const std::string& what) {
    return what + ": " + SystemMessage(GetLastError());
}

bool IsFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// A folder named from the root (C:\..., \\server\...): a relative PATH entry would make the
// current folder, or one below it, a place programs are taken from.
bool IsAbsoluteFolder(const std::string& dir) {
    return (dir.size() >= 3 && dir[1] == ':' && (dir[2] == '\\' || dir[2] == '/')) ||
           (dir.size() >= 2 && (dir[0] == '\\' || dir[0] == '/') &&
            (dir[1] == '\\' || dir[1] == '/'));
}

// A name with a folder in it as it is; a bare name is looked up in PATH's absolute folders,
// never in the current folder (CreateProcess alone would take it from there). Empty when not found.
std::string FindProgram(const std::string& name) {
    if (name.find_first_of("\\/:") != std::string::npos)
        return name;
    const char* env = std::getenv("PATH");
    const std::string path = env != nullptr ? env : "";
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find(';', start);
        if (end == std::string::npos)
            end = path.size();
        std::string dir = path.substr(start, end - start);
        if (dir.size() >= 2 && dir.front() == '"' && dir.back() == '"')
            dir = dir.substr(1, dir.size() - 2);
        if (IsAbsoluteFolder(dir)) {
            const char last = dir.back();
            const std::string candidate = dir + (last == '\\' || last == '/' ? "" : "\\") + name;
            if (IsFile(candidate))
                return candidate;
        }
        start = end + 1;
    }
    return std::string();
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

class WindowsLink : public PlatformLink {
  public:
    ~WindowsLink() override {
        if (process_ && !ServerEnded()) {
            TerminateProcess(process_.Get(), 1);
            WaitForSingleObject(process_.Get(), INFINITE);
        }
        if (region_ != nullptr)
            UnmapViewOfFile(region_);
    }

    bool Open(const std::string& regionName, const std::string& requestEvent,
              const std::string& replyEvent, std::string* error) override {
        if (region_ != nullptr) {
            UnmapViewOfFile(region_);
            region_ = nullptr;
        }
        // The protocol's create-or-open: a mapping someone else made too short is refused, as
        // conproxy refuses it.
        conproxy_protocol::OpenedRegion opened;
        const bool usable = conproxy_protocol::CreateOrOpenRegion(regionName, opened);
        const DWORD code = GetLastError();
        mapping_ = OwnedHandle(opened.mapping);
        if (!usable) {
            *error = regionName + (opened.refusal.empty() ? ": error " + std::to_string(code)
                                                          : ": it " + opened.refusal);
            return false;
        }
        region_ = static_cast<uint8_t*>(opened.view);
        requestEvent_ = OwnedHandle(conproxy_protocol::CreateOrOpenEvent(requestEvent));
        if (!requestEvent_) {
            *error = LastError(requestEvent);
            return false;
        }
        replyEvent_ = OwnedHandle(conproxy_protocol::CreateOrOpenEvent(replyEvent));
        if (!replyEvent_) {
            *error = LastError(replyEvent);
            return false;
        }
        return true;
    }
    uint8_t* Region() const override { return region_; }
    void SetRequestEvent() override { SetEvent(requestEvent_.Get()); }
    void ResetReplyEvent() override { ResetEvent(replyEvent_.Get()); }
    bool ReplyEventIsSet() override {
        return WaitForSingleObject(replyEvent_.Get(), 0) == WAIT_OBJECT_0;
    }

    WaitResult WaitReply(int timeoutMs) override {
        if (!replyEvent_)
            return WaitResult::kFailed;
        const Deadline deadline(timeoutMs);
        for (;;) {
            if (gStopWaiting.load())
                return WaitResult::kStopped;
            const DWORD slice = static_cast<DWORD>(deadline.RemainingMs(kLivenessSliceMs));
            const DWORD r = WaitForSingleObject(replyEvent_.Get(), slice);
            if (r == WAIT_OBJECT_0)
                return WaitResult::kReplied;
            if (r != WAIT_TIMEOUT)
                return WaitResult::kFailed;
            if (ServerEnded()) {
                return ReplyEventIsSet() ? WaitResult::kReplied : WaitResult::kServerDied;
            }
            if (deadline.Expired())
                return WaitResult::kTimedOut;
        }
    }

    bool Spawn(const std::vector<std::string>& args, const StartOptions&, const ServerStdio&,
               std::string* error) override {
        std::string commandLine;
        for (const auto& a : args) commandLine += (commandLine.empty() ? "" : " ") + Quote(a);
        std::vector<char> buffer(commandLine.begin(), commandLine.end());
        buffer.push_back('\0');

        STARTUPINFOA startup;
        std::memset(&startup, 0, sizeof startup);
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info;
        std::memset(&info, 0, sizeof info);
        // The server shares our console: that is the console it serves. No handle of ours is
        // inherited.
        const std::string program = FindProgram(args[0]);
        if (program.empty()) {
            *error = args[0] + ": not found on PATH";
            return false;
        }
        if (!CreateProcessA(program.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            nullptr, &startup, &info)) {
            *error = LastError(program);
            return false;
        }
        CloseHandle(info.hThread);
        process_ = OwnedHandle(info.hProcess);
        processId_ = info.dwProcessId;
        exit_ = ServerExit{};
        return true;
    }

    long ServerPid() const override { return static_cast<long>(processId_); }

    ServerExit WaitServerExit(int timeoutMs) override {
        if (process_ && !exit_.ended) {
            WaitForSingleObject(process_.Get(),
                                timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
            ServerEnded();
        }
        return exit_;
    }

    void SignalServer(int) override {
        if (process_ && !ServerEnded())
            TerminateProcess(process_.Get(), 1);
    }

  private:
    bool ServerEnded() {
        if (!process_)
            return false;
        if (exit_.ended)
            return true;
        if (WaitForSingleObject(process_.Get(), 0) != WAIT_OBJECT_0)
            return false;
        DWORD code = 0;
        GetExitCodeProcess(process_.Get(), &code);
        exit_.ended = true;
        exit_.exited = true;
        exit_.code = static_cast<int>(code);
        return true;
    }

    OwnedHandle mapping_;
    uint8_t* region_ = nullptr;
    OwnedHandle requestEvent_;
    OwnedHandle replyEvent_;
    OwnedHandle process_;
    DWORD processId_ = 0;
    ServerExit exit_;
};

}  // namespace

std::unique_ptr<PlatformLink> MakePlatformLink() {
    return std::make_unique<WindowsLink>();
}

const char* const kServerFileName = "conproxy.exe";

unsigned long ProcessId() {
    return GetCurrentProcessId();
}

uint32_t RandomBits() {
    unsigned int bits = 0;
    if (rand_s(&bits) != 0) {
        bits = static_cast<unsigned int>(GetTickCount()) * 2654435761u;
    }
    return bits;
}

// Beside this program, else the bare name, which StartServer looks up on PATH (as on Linux).
std::string DefaultServerPath(const char*) {
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    std::string path(self, n < sizeof self ? n : 0);
    size_t slash = path.find_last_of("\\/");
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    if (!dir.empty() && IsFile(dir + kServerFileName))
        return dir + kServerFileName;
    return kServerFileName;
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
