// POSIX stand-in for the named region and events: each is a shared-memory object; an event is
// the 32-bit word at offset 0 (0 = not signalled, 1 = signalled), woken through a shared futex.
// Whoever creates an object unlinks it at the end; names only opened are left alone.
#include <fcntl.h>
#include <linux/futex.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <utility>

#include "conproxy_client.h"

extern char** environ;

namespace conclient {
namespace {

constexpr size_t kEventBytes = 4;
constexpr size_t kMaxNameBytes = 250;
constexpr size_t kMaxSuffixBytes = 72;  // "Mapping" + suffix must fit an 80-char buffer
// The reply wait wakes this often to see whether the server has died.
constexpr int kLivenessSliceMs = 50;
constexpr int kReapPollMs = 5;
constexpr int kTermGraceMs = 1000;

class Deadline {
  public:
    explicit Deadline(int timeoutMs)
        : end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs)) {}
    bool Expired() const { return std::chrono::steady_clock::now() >= end_; }
    int RemainingMs() const {
        // Rounded up: a last fraction of a millisecond must not become a zero-length wait that
        // spins.
        auto left =
            std::chrono::ceil<std::chrono::milliseconds>(end_ - std::chrono::steady_clock::now());
        return left.count() < 0 ? 0 : static_cast<int>(left.count());
    }

  private:
    std::chrono::steady_clock::time_point end_;
};

bool NameIsUsable(const std::string& name) {
    return !name.empty() && name.size() <= kMaxNameBytes && name.find('/') == std::string::npos;
}

// A mapped shared-memory object; move-only, unmapped/closed/unlinked in one place.
class SharedObject {
  public:
    SharedObject() = default;
    SharedObject(const SharedObject&) = delete;
    SharedObject& operator=(const SharedObject&) = delete;
    SharedObject(SharedObject&& o) noexcept { *this = std::move(o); }
    SharedObject& operator=(SharedObject&& o) noexcept {
        if (this != &o) {
            Release();
            std::swap(name_, o.name_);
            std::swap(fd_, o.fd_);
            std::swap(map_, o.map_);
            std::swap(size_, o.size_);
            std::swap(created_, o.created_);
        }
        return *this;
    }
    ~SharedObject() { Release(); }

    // Create-or-open with mode 0600, grown to `size` when smaller, mapped shared.
    bool Open(const std::string& name, size_t size, std::string* error) {
        Release();
        std::string path = "/" + name;
        int fd = shm_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        bool created = fd >= 0;
        if (fd < 0 && errno == EEXIST)
            fd = shm_open(path.c_str(), O_RDWR, 0600);
        if (fd < 0) {
            *error = path + ": " + std::strerror(errno);
            return false;
        }
        name_ = path;
        fd_ = fd;
        created_ = created;
        struct stat st {};
        if (fstat(fd, &st) != 0 ||
            (static_cast<size_t>(st.st_size) < size && ftruncate(fd, size) != 0)) {
            *error = path + ": " + std::strerror(errno);
            Release();
            return false;
        }
        void* map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (map == MAP_FAILED) {
            *error = path + ": " + std::strerror(errno);
            Release();
            return false;
        }
        map_ = static_cast<uint8_t*>(map);
        size_ = size;
        return true;
    }
    uint8_t* Bytes() const { return map_; }
    uint32_t* Word() const { return reinterpret_cast<uint32_t*>(map_); }

  private:
    void Release() {
        if (map_ != nullptr)
            munmap(map_, size_);
        if (fd_ >= 0)
            close(fd_);
        if (created_)
            shm_unlink(name_.c_str());
        map_ = nullptr;
        fd_ = -1;
        created_ = false;
        name_.clear();
    }
    std::string name_;
    int fd_ = -1;
    uint8_t* map_ = nullptr;
    size_t size_ = 0;
    bool created_ = false;
};

void SetEvent(uint32_t* word) {
    __atomic_store_n(word, 1u, __ATOMIC_RELEASE);
    syscall(SYS_futex, word, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}
void ResetEvent(uint32_t* word) {
    __atomic_store_n(word, 0u, __ATOMIC_RELEASE);
}
bool EventIsSet(uint32_t* word) {
    return __atomic_load_n(word, __ATOMIC_ACQUIRE) != 0;
}

}  // namespace

extern std::atomic<bool> gStopWaiting;

struct ConproxyClient::Impl {
    ClientNames names;
    SharedObject region;
    SharedObject requestEvent;
    SharedObject replyEvent;
    pid_t pid = 0;
    ServerExit exit;

    // Reap the server without blocking; true once it has ended.
    bool ServerEnded() {
        if (pid <= 0)
            return false;
        if (exit.ended)
            return true;
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r != pid)
            return false;
        exit.ended = true;
        exit.exited = WIFEXITED(status);
        exit.code = exit.exited ? WEXITSTATUS(status) : 0;
        exit.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        return true;
    }

    WaitResult WaitReply(int timeoutMs) {
        uint32_t* word = replyEvent.Word();
        if (word == nullptr)
            return WaitResult::kFailed;
        Deadline deadline(timeoutMs);
        // The server is asked about (waitpid) only when a slice passes without a reply: asked on
        // the way in, it would add a system call to every turn (a tenth of a Nop's round trip).
        bool askServer = false;
        for (;;) {
            if (EventIsSet(word))
                return WaitResult::kReplied;
            if (gStopWaiting.load())
                return WaitResult::kStopped;
            // A reply given just before the server ended still counts, so the event is
            // checked once more after the server is seen gone.
            if (askServer ? ServerEnded() : exit.ended)
                return EventIsSet(word) ? WaitResult::kReplied : WaitResult::kServerDied;
            if (deadline.Expired()) {
                if (!askServer) {
                    askServer = true;  // one last look, so a dead server is not a time-out
                    continue;
                }
                return WaitResult::kTimedOut;
            }
            int sliceMs = std::min(deadline.RemainingMs(), kLivenessSliceMs);
            struct timespec ts {
                sliceMs / 1000, static_cast<long>(sliceMs % 1000) * 1000000L
            };
            long r = syscall(SYS_futex, word, FUTEX_WAIT, 0, &ts, nullptr, 0);
            if (r != 0 && errno != EAGAIN && errno != EINTR && errno != ETIMEDOUT) {
                return WaitResult::kFailed;
            }
            askServer = r != 0 && errno == ETIMEDOUT;
        }
    }
};

ConproxyClient::ConproxyClient() : impl_(new Impl) {}

ConproxyClient::~ConproxyClient() {
    if (impl_->pid > 0 && !impl_->ServerEnded()) {
        // SIGTERM first, so the server can restore its terminal; SIGKILL if it will not go.
        kill(impl_->pid, SIGTERM);
        if (WaitServerExit(kTermGraceMs).ended)
            return;
        kill(impl_->pid, SIGKILL);
        int status = 0;
        while (waitpid(impl_->pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

bool ConproxyClient::Open(const ClientNames& names, std::string* error) {
    std::string regionName = "Mapping" + names.suffix;
    if (names.suffix.size() > kMaxSuffixBytes || !NameIsUsable(regionName) ||
        !NameIsUsable(names.requestEvent) || !NameIsUsable(names.replyEvent)) {
        *error = "unusable name (empty, with '/', or too long)";
        return false;
    }
    impl_->names = names;
    return impl_->region.Open(regionName, kRegionBytes, error) &&
           impl_->requestEvent.Open(names.requestEvent, kEventBytes, error) &&
           impl_->replyEvent.Open(names.replyEvent, kEventBytes, error);
}

bool ConproxyClient::StartServer(const StartOptions& options, std::string* error) {
    std::vector<std::string> args = {options.serverPath, impl_->names.suffix,
                                     impl_->names.requestEvent, impl_->names.replyEvent};
    if (options.argsOverride) {
        args = *options.argsOverride;
        args.insert(args.begin(), options.serverPath);
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (options.newSession)
        flags |= POSIX_SPAWN_SETSID;
    posix_spawnattr_setflags(&attr, flags);
    sigset_t none, defaults;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    sigemptyset(&defaults);
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGWINCH}) sigaddset(&defaults, s);
    posix_spawnattr_setsigdefault(&attr, &defaults);

    int in = options.stdinFd, out = options.stdoutFd, err = options.stderrFd;
    if (!options.ttyPath.empty()) {
        // Opened after setsid and without O_NOCTTY, so it becomes the controlling terminal.
        posix_spawn_file_actions_addopen(&actions, 0, options.ttyPath.c_str(), O_RDWR, 0);
        in = -1;
        if (out < 0)
            posix_spawn_file_actions_adddup2(&actions, 0, 1);
        if (err < 0)
            posix_spawn_file_actions_adddup2(&actions, 0, 2);
    }
    if (in >= 0)
        posix_spawn_file_actions_adddup2(&actions, in, 0);
    if (out >= 0)
        posix_spawn_file_actions_adddup2(&actions, out, 1);
    if (err >= 0)
        posix_spawn_file_actions_adddup2(&actions, err, 2);

    pid_t pid = 0;
    int rc = posix_spawn(&pid, options.serverPath.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        *error = options.serverPath + ": " + std::strerror(rc);
        return false;
    }
    impl_->pid = pid;
    impl_->exit = ServerExit{};
    return true;
}

WaitResult ConproxyClient::WaitReady(int timeoutMs) {
    return impl_->WaitReply(ReplyTimeout(timeoutMs));
}

WaitResult ConproxyClient::Transact(ConsoleRequest* request, int timeoutMs) {
    if (impl_->region.Bytes() == nullptr)
        return WaitResult::kFailed;
    // Reset before the request is announced: a reset after it could erase the answer.
    ResetEvent(impl_->replyEvent.Word());
    std::memcpy(impl_->region.Bytes(), request, sizeof *request);
    SetEvent(impl_->requestEvent.Word());
    WaitResult r = impl_->WaitReply(ReplyTimeout(timeoutMs));
    if (r == WaitResult::kReplied)
        std::memcpy(request, impl_->region.Bytes(), sizeof *request);
    return r;
}

uint8_t* ConproxyClient::Region() {
    return impl_->region.Bytes();
}
const ClientNames& ConproxyClient::Names() const {
    return impl_->names;
}
void ConproxyClient::SetRequestEvent() {
    SetEvent(impl_->requestEvent.Word());
}
void ConproxyClient::ResetReplyEvent() {
    ResetEvent(impl_->replyEvent.Word());
}
bool ConproxyClient::ReplyEventIsSet() {
    return EventIsSet(impl_->replyEvent.Word());
}
long ConproxyClient::ServerPid() const {
    return impl_->pid;
}

ServerExit ConproxyClient::WaitServerExit(int timeoutMs) {
    Deadline deadline(timeoutMs);
    while (!impl_->ServerEnded() && !deadline.Expired()) usleep(kReapPollMs * 1000);
    return impl_->exit;
}

void ConproxyClient::SignalServer(int signalNumber) {
    if (impl_->pid > 0 && !impl_->ServerEnded())
        kill(impl_->pid, signalNumber);
}

ClientNames UniqueNames() {
    static std::atomic<unsigned> counter{0};
    std::string stem = "cpx" + std::to_string(getpid()) + "_" + std::to_string(++counter);
    return {stem, stem + "_req", stem + "_rep"};
}

std::string DefaultServerPath(const char* argv0) {
    std::string self = argv0 != nullptr ? argv0 : "";
    size_t slash = self.rfind('/');
    return slash == std::string::npos ? "conproxy" : self.substr(0, slash + 1) + "conproxy";
}

namespace {
void StopHandler(int) {
    StopWaiting();
}
}  // namespace

void StopWaitingOnSignals() {
    struct sigaction sa {};
    sa.sa_handler = StopHandler;
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: the futex wait is interrupted and sees the flag at once.
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &sa, nullptr);
}

}  // namespace conclient
