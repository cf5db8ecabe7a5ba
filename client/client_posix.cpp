// POSIX stand-in for the named region and events: each is a shared-memory object made or opened
// as the protocol does it (named_object_posix.h: safely ours, grown, its pages reserved); an
// event is the protocol's event word (event_word_posix.h). Whoever creates an object unlinks it
// at the end; names only opened are left alone.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "client_lifeline_posix.h"
#include "client_platform.h"
#include "conproxy_client.h"
#include "event_word_posix.h"
#include "named_object_posix.h"

extern char** environ;

namespace conclient {
namespace {

constexpr size_t kEventBytes = conproxy_protocol::kEventBytes;
// The reply wait wakes this often to see whether the server has died.
constexpr int kLivenessSliceMs = 50;
constexpr int kReapPollMs = 5;
constexpr int kTermGraceMs = 1000;

// A file we may run: a regular file with an execute bit for us.
bool IsProgram(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// A name with a slash as it is; otherwise the program of that name on PATH, found as a shell
// finds it, or empty.
std::string FindProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return name;
    }
    std::string path;
    if (const char* env = std::getenv("PATH")) {
        path = env;
    } else {
        // No PATH at all: the system's default, as the shell takes it.
        char fallback[256] = "/bin:/usr/bin";
        confstr(_CS_PATH, fallback, sizeof fallback);
        path = fallback;
    }
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(':', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        // An empty entry is the current directory, as the shell reads it; the result still has
        // a slash, so that nothing later looks the name up again.
        const std::string dir = end == start ? "." : path.substr(start, end - start);
        const std::string candidate = dir + "/" + name;
        if (IsProgram(candidate)) {
            return candidate;
        }
        start = end + 1;
    }
    return std::string();
}

// The directory of the running program, with its trailing slash, or empty. The kernel's link
// names the file itself whichever way it was started; argv[0] only where /proc is missing.
std::string ProgramDirectory(const char* argv0) {
    std::string self;
    char link[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", link, sizeof link - 1);
    if (n > 0) {
        self.assign(link, static_cast<size_t>(n));
    } else if (argv0 != nullptr) {
        self = argv0;
    }
    const size_t slash = self.rfind('/');
    return slash == std::string::npos ? std::string() : self.substr(0, slash + 1);
}

// The names this process created, where a handler of an ending signal can reach them without
// allocating or locking: a slot is 0 free, 1 being written, 2 in use.
constexpr int kMaxEndingNames = 24;
char endingNames[kMaxEndingNames][conproxy_protocol::kMaxPosixNameBytes + 2];
std::atomic<int> endingNameState[kMaxEndingNames];
static_assert(std::atomic<int>::is_always_lock_free, "read from signal handlers");

void RememberCreated(const std::string& path) {
    if (path.size() >= sizeof endingNames[0])
        return;
    for (int i = 0; i < kMaxEndingNames; ++i) {
        int free = 0;
        if (endingNameState[i].compare_exchange_strong(free, 1)) {
            std::memcpy(endingNames[i], path.c_str(), path.size() + 1);
            endingNameState[i].store(2);
            return;
        }
    }
}

void ForgetCreated(const std::string& path) {
    for (int i = 0; i < kMaxEndingNames; ++i) {
        int inUse = 2;
        if (endingNameState[i].load() == 2 && path == endingNames[i] &&
            endingNameState[i].compare_exchange_strong(inUse, 1))
            endingNameState[i].store(0);
    }
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

    // The protocol's create-or-open (0600, safely ours, grown to `size`, its pages reserved),
    // then mapped shared. An object created here and failed later is removed again.
    bool Open(const std::string& name, size_t size, std::string* error) {
        Release();
        conproxy_protocol::OpenedObject opened;
        const int fd = conproxy_protocol::CreateOrOpenObject(name, size, opened);
        if (fd < 0) {
            *error = "/" + name + ": " +
                     (opened.refusal.empty() ? std::strerror(errno) : "it " + opened.refusal);
            return false;
        }
        name_ = opened.path;
        fd_ = fd;
        created_ = opened.created;
        if (created_)
            RememberCreated(name_);
        void* map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (map == MAP_FAILED) {
            *error = name_ + ": " + std::strerror(errno);
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
        if (created_) {
            ForgetCreated(name_);
            conproxy_protocol::RemoveObjectName(name_);
        }
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

// What the server starts with: the signal state, the session, and its descriptors 0-2.
struct SpawnSettings {
    SpawnSettings(const StartOptions& options, const ServerStdio& stdio, int lifeline) {
        posix_spawnattr_init(&attributes);
        posix_spawn_file_actions_init(&actions);
        SetSignalsAndSession(options.newSession);
        SetDescriptors(options.ttyPath, options.newSession, stdio, lifeline);
    }
    ~SpawnSettings() {
        if (keyboard_ >= 0)
            close(keyboard_);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;

    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t actions;

  private:
    // Nothing blocked, and the signals a caller of ours may have caught or ignored back at their
    // defaults, so that the server can be ended and sees its terminal's hang-up.
    void SetSignalsAndSession(bool newSession) {
        short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
        if (newSession)
            flags |= POSIX_SPAWN_SETSID;
        posix_spawnattr_setflags(&attributes, flags);
        sigset_t none, defaults;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes, &none);
        sigemptyset(&defaults);
        for (int s : {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGWINCH}) sigaddset(&defaults, s);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
    }

    void SetDescriptors(const std::string& ttyPath, bool newSession, const ServerStdio& stdio,
                        int lifeline) {
        int in = stdio.stdinFd, out = stdio.stdoutFd, err = stdio.stderrFd;
        if (!ttyPath.empty()) {
            // Opened after setsid and without O_NOCTTY, so it becomes the controlling terminal.
            posix_spawn_file_actions_addopen(&actions, 0, ttyPath.c_str(), O_RDWR, 0);
            in = -1;
            if (out < 0)
                posix_spawn_file_actions_adddup2(&actions, 0, 1);
            if (err < 0)
                posix_spawn_file_actions_adddup2(&actions, 0, 2);
        }
        if (ttyPath.empty() && in < 0 && isatty(STDIN_FILENO) != 1)
            in = keyboard_ = OpenKeyboard(newSession);
        if (in >= 0)
            posix_spawn_file_actions_adddup2(&actions, in, 0);
        if (out >= 0)
            posix_spawn_file_actions_adddup2(&actions, out, 1);
        if (err >= 0)
            posix_spawn_file_actions_adddup2(&actions, err, 2);
        // Only the three standard descriptors and the lifeline cross: a terminal the caller
        // holds open must hang up when the caller closes it, and nothing else of ours is the
        // server's business. The lifeline's number lies above every descriptor named so far.
        const int kept = conproxy_protocol::kLifelineDescriptor;
        if (lifeline >= 0) {
            posix_spawn_file_actions_adddup2(&actions, lifeline, kept);
        }
        posix_spawn_file_actions_addclosefrom_np(&actions, lifeline >= 0 ? kept + 1 : kept);
    }

    // Our standard input is no terminal (a script, a pipe): it must not become the server's
    // keyboard, or the server would read the script's lines as keys. The keyboard is then our
    // controlling terminal while we are its foreground, else none (an end of input at once); a
    // server in a session of its own has no use for our terminal, which is not its own.
    static int OpenKeyboard(bool newSession) {
        const int tty = newSession ? -1 : open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (tty >= 0 && tcgetpgrp(tty) == getpgrp())
            return tty;
        if (tty >= 0)
            close(tty);
        return open("/dev/null", O_RDONLY | O_CLOEXEC);
    }

    int keyboard_ = -1;
};

class PosixLink : public PlatformLink {
  public:
    ~PosixLink() override {
        if (pid_ > 0 && !ServerEnded()) {
            // SIGTERM first, so the server can restore its terminal; SIGKILL if it will not go.
            kill(pid_, SIGTERM);
            if (!WaitServerExit(kTermGraceMs).ended) {
                kill(pid_, SIGKILL);
                int status = 0;
                while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
                }
            }
        }
        if (lifeline_ >= 0)
            close(lifeline_);
    }

    bool Open(const std::string& regionName, const std::string& requestEvent,
              const std::string& replyEvent, std::string* error) override {
        return region_.Open(regionName, kRegionBytes, error) &&
               requestEvent_.Open(requestEvent, kEventBytes, error) &&
               replyEvent_.Open(replyEvent, kEventBytes, error);
    }
    uint8_t* Region() const override { return region_.Bytes(); }
    void SetRequestEvent() override { conproxy_protocol::SetEventWord(requestEvent_.Word()); }
    void ResetReplyEvent() override { conproxy_protocol::ResetEventWord(replyEvent_.Word()); }
    bool ReplyEventIsSet() override {
        return conproxy_protocol::EventWordIsSet(replyEvent_.Word());
    }

    WaitResult WaitReply(int timeoutMs) override {
        uint32_t* word = replyEvent_.Word();
        if (word == nullptr)
            return WaitResult::kFailed;
        const Deadline deadline(timeoutMs);
        // The server is asked about (waitpid) only when a slice passes without a reply: asked on
        // the way in, it would add a system call to every turn (a tenth of a Nop's round trip).
        bool askServer = false;
        for (;;) {
            if (conproxy_protocol::EventWordIsSet(word))
                return WaitResult::kReplied;
            if (gStopWaiting.load())
                return WaitResult::kStopped;
            // A reply given just before the server ended still counts, so the event is
            // checked once more after the server is seen gone.
            if (askServer ? ServerEnded() : exit_.ended)
                return conproxy_protocol::EventWordIsSet(word) ? WaitResult::kReplied
                                                               : WaitResult::kServerDied;
            if (deadline.Expired()) {
                if (!askServer) {
                    askServer = true;  // one last look, so a dead server is not a time-out
                    continue;
                }
                return WaitResult::kTimedOut;
            }
            const conproxy_protocol::WordWait slept =
                conproxy_protocol::WaitOnEventWord(word, deadline.RemainingMs(kLivenessSliceMs));
            if (slept == conproxy_protocol::WordWait::kFailed) {
                return WaitResult::kFailed;
            }
            askServer = slept == conproxy_protocol::WordWait::kTimedOut;
        }
    }

    bool Spawn(const std::vector<std::string>& args, const StartOptions& options,
               const ServerStdio& stdio, std::string* error) override {
        // posix_spawn takes a name without a slash from the current directory: never that.
        const std::string program = FindProgram(args[0]);
        if (program.empty()) {
            *error = args[0] + ": not found on PATH";
            return false;
        }
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        int serverEnd = -1;
        if (!MakeLifeline(stdio, &serverEnd, error)) {
            return false;
        }
        SpawnSettings settings(options, stdio, serverEnd);
        pid_t pid = 0;
        const int rc = posix_spawn(&pid, program.c_str(), &settings.actions, &settings.attributes,
                                   argv.data(), environ);
        close(serverEnd);
        if (rc != 0) {
            *error = program + ": " + std::strerror(rc);
            return false;
        }
        pid_ = pid;
        exit_ = ServerExit{};
        return true;
    }

    long ServerPid() const override { return pid_; }

    ServerExit WaitServerExit(int timeoutMs) override {
        const Deadline deadline(timeoutMs);
        while (!ServerEnded() && !deadline.Expired()) usleep(kReapPollMs * 1000);
        return exit_;
    }

    void SignalServer(int signalNumber) override {
        if (pid_ > 0 && !ServerEnded())
            kill(pid_, signalNumber);
    }

  private:
    // The pair of client_lifeline_posix.h: ours kept, close-on-exec; the server's end moved
    // above the descriptors the spawn moves to 0-2, so that none of them is overwritten.
    bool MakeLifeline(const ServerStdio& stdio, int* serverEnd, std::string* error) {
        if (lifeline_ >= 0) {
            close(lifeline_);
            lifeline_ = -1;
        }
        int ends[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
            *error = std::string("lifeline: ") + std::strerror(errno);
            return false;
        }
        const int highest = std::max({conproxy_protocol::kLifelineDescriptor, stdio.stdinFd,
                                      stdio.stdoutFd, stdio.stderrFd});
        *serverEnd = fcntl(ends[1], F_DUPFD_CLOEXEC, highest + 1);
        close(ends[1]);
        const ssize_t marked = send(ends[0], conproxy_protocol::kLifelineMark,
                                    conproxy_protocol::kLifelineMarkBytes, MSG_NOSIGNAL);
        if (*serverEnd < 0 ||
            marked != static_cast<ssize_t>(conproxy_protocol::kLifelineMarkBytes)) {
            *error = std::string("lifeline: ") + std::strerror(errno);
            close(ends[0]);
            if (*serverEnd >= 0)
                close(*serverEnd);
            return false;
        }
        lifeline_ = ends[0];
        return true;
    }

    // Reap the server without blocking; true once it has ended.
    bool ServerEnded() {
        if (pid_ <= 0)
            return false;
        if (exit_.ended)
            return true;
        int status = 0;
        pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r != pid_)
            return false;
        exit_.ended = true;
        exit_.exited = WIFEXITED(status);
        exit_.code = exit_.exited ? WEXITSTATUS(status) : 0;
        exit_.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        return true;
    }

    SharedObject region_;
    SharedObject requestEvent_;
    SharedObject replyEvent_;
    pid_t pid_ = 0;
    ServerExit exit_;
    int lifeline_ = -1;  // closed by our end (or exec) only: the server then ends
};

}  // namespace

std::unique_ptr<PlatformLink> MakePlatformLink() {
    return std::make_unique<PosixLink>();
}

const char* const kServerFileName = "conproxy";

unsigned long ProcessId() {
    return static_cast<unsigned long>(getpid());
}

uint32_t RandomBits() {
    uint32_t bits = 0;
    if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
        // No entropy yet (early boot): the clock still keeps the name from being guessed ahead.
        bits = static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count() *
                                     2654435761u);
    }
    return bits;
}

std::string DefaultServerPath(const char* argv0) {
    const std::string dir = ProgramDirectory(argv0);
    if (!dir.empty() && IsProgram(dir + kServerFileName)) {
        return dir + kServerFileName;
    }
    return kServerFileName;  // StartServer looks it up on PATH
}

namespace {
void StopHandler(int) {
    StopWaiting();
}

// Our names removed, then the end the signal would have made (the server ends with us: its
// lifeline hangs up).
void EndingHandler(int signalNumber) {
    for (int i = 0; i < kMaxEndingNames; ++i) {
        if (endingNameState[i].load() == 2)
            shm_unlink(endingNames[i]);
    }
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}
}  // namespace

void StopWaitingOnSignals() {
    struct sigaction sa {};
    sa.sa_handler = StopHandler;
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: the futex wait is interrupted and sees the flag at once.
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &sa, nullptr);
    // Every other signal whose default ends the process, where it still has that default (one
    // the program ignores or handles stays so): a broken output pipe, Ctrl+\, a limit, a fault.
    sa.sa_handler = EndingHandler;
    std::vector<int> ending = {SIGQUIT, SIGPIPE,   SIGUSR1, SIGUSR2, SIGALRM,   SIGXCPU,
                               SIGXFSZ, SIGVTALRM, SIGPROF, SIGPWR,  SIGSTKFLT, SIGSYS,
                               SIGTRAP, SIGSEGV,   SIGBUS,  SIGABRT, SIGFPE,    SIGILL};
    for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) ending.push_back(s);
    for (int s : ending) {
        struct sigaction now {};
        if (sigaction(s, nullptr, &now) == 0 && now.sa_handler == SIG_DFL)
            sigaction(s, &sa, nullptr);
    }
}

}  // namespace conclient
