#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace test_support {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kPollStep{5};
// A terminal named as an output (a benchmark's pty) must not become the controlling one.
constexpr int kOutputFlags = O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY;

std::runtime_error SystemError(const std::string& what, int code) {
    return std::runtime_error(what + ": " + std::strerror(code));
}

// The environment for the child, built before fork so the child only calls exec.
std::vector<std::string> BuildEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text = *entry;
        std::string name = text.substr(0, text.find('='));
        bool replaced = false;
        for (const std::string& setting : extra) {
            replaced = replaced || setting.substr(0, setting.find('=')) == name;
        }
        if (!replaced) {
            result.push_back(text);
        }
    }
    result.insert(result.end(), extra.begin(), extra.end());
    return result;
}

std::vector<char*> PointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// What the child needs, prepared before fork so the child only makes system calls.
struct ChildPlan {
    const SpawnOptions* options;
    const char* ttyName;  // nullptr: no controlling terminal
    const char* outPath;
    const char* errPath;
    cpu_set_t cpus;
    char** argv;
    char** envp;
    int errorPipe;
};

// In the child after fork: only async-signal-safe calls (a body runs afterwards, as the test's
// own code). Reports errno through the pipe.
void SetUpChild(const ChildPlan& plan) {
    const SpawnOptions& options = *plan.options;
    auto fail = [&plan]() {
        int code = errno;
        ssize_t ignored = ::write(plan.errorPipe, &code, sizeof code);
        (void)ignored;
        ::_exit(127);
    };
    if (options.ownSession && ::setsid() < 0) {
        fail();
    }
    if (!options.cpus.empty() && ::sched_setaffinity(0, sizeof plan.cpus, &plan.cpus) != 0) {
        fail();
    }
    int tty = -1;
    if (plan.ttyName != nullptr) {
        // Opened without O_NOCTTY by a session leader with no terminal: it becomes the
        // controlling terminal; TIOCSCTTY makes sure of it.
        tty = ::open(plan.ttyName, O_RDWR);
        if (tty < 0 || ::ioctl(tty, TIOCSCTTY, 0) < 0) {
            fail();
        }
    }
    int in = options.stdinFromPty && tty >= 0 ? tty
             : options.stdinFd >= 0           ? options.stdinFd
                                    : ::open(options.stdinPath.c_str(), O_RDONLY | O_NOCTTY);
    int out = options.stdoutToPty && tty >= 0 ? tty
              : options.stdoutFd >= 0         ? options.stdoutFd
                                              : ::open(plan.outPath, kOutputFlags, 0644);
    int err = options.stderrToPty && tty >= 0 ? tty
              : options.stderrToStdout        ? out
                                              : ::open(plan.errPath, kOutputFlags, 0644);
    if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 ||
        ::dup2(err, 2) < 0) {
        fail();
    }
    if (!options.workDir.empty() && ::chdir(options.workDir.c_str()) != 0) {
        fail();
    }
    // A test that ignores SIGPIPE for itself must not pass that on.
    ::signal(SIGPIPE, SIG_DFL);
}

[[noreturn]] void ExecChild(const ChildPlan& plan) {
    SetUpChild(plan);
    ::execve(plan.argv[0], plan.argv, plan.envp);
    int code = errno;
    ssize_t ignored = ::write(plan.errorPipe, &code, sizeof code);
    (void)ignored;
    ::_exit(127);
}

[[noreturn]] void RunBody(const ChildPlan& plan, const std::function<int()>& body,
                          std::chrono::milliseconds timeLimit) {
    SetUpChild(plan);
    ::close(plan.errorPipe);  // set up: the parent stops waiting for an error
    auto seconds = std::chrono::ceil<std::chrono::seconds>(timeLimit).count();
    ::alarm(static_cast<unsigned>(std::max<long long>(1, seconds)));
    ::_exit(body());
}

}  // namespace

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/portboot-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw SystemError("mkdtemp", errno);
    }
    // The canonical path, so it compares equal to what a child's getcwd() reports.
    char* canonical = ::realpath(pattern.c_str(), nullptr);
    path_ = canonical != nullptr ? canonical : pattern;
    std::free(canonical);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

void WriteFile(const std::string& path, const std::string& contents) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    file.close();
    if (file.fail()) {
        throw std::runtime_error("cannot write " + path);
    }
}

Child::Child(const SpawnOptions& options) : captureDir_(std::make_unique<TempDir>()) {
    if (options.argv.empty()) {
        throw std::runtime_error("Child: empty argv");
    }
    Start(options, nullptr);
}

Child::Child(const SpawnOptions& options, const std::function<int()>& body)
    : captureDir_(std::make_unique<TempDir>()) {
    Start(options, &body);
}

void Child::Start(const SpawnOptions& options, const std::function<int()>* body) {
    ownSession_ = options.ownSession;
    stopGrace_ = options.stopGrace;
    std::vector<std::string> args = options.argv;
    std::vector<std::string> env = BuildEnvironment(options.extraEnv);
    std::vector<char*> argv = PointersTo(args);
    std::vector<char*> envp = PointersTo(env);
    std::string outPath =
        options.stdoutPath.empty() ? captureDir_->File("stdout") : options.stdoutPath;
    std::string errPath = captureDir_->File("stderr");

    std::string ptyName = options.ttyPath;
    if (options.controllingPty) {
        ptyMaster_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128];
        if (ptyMaster_ < 0 || ::grantpt(ptyMaster_) != 0 || ::unlockpt(ptyMaster_) != 0 ||
            ::ptsname_r(ptyMaster_, name, sizeof name) != 0) {
            throw SystemError("controlling pty", errno);
        }
        if (options.ptyRows != 0 && options.ptyCols != 0) {
            struct winsize size {};
            size.ws_row = options.ptyRows;
            size.ws_col = options.ptyCols;
            ::ioctl(ptyMaster_, TIOCSWINSZ, &size);
        }
        ptyName = name;
    }
    if (!ptyName.empty() && !options.ownSession) {
        throw std::runtime_error("Child: a controlling terminal needs a session of its own");
    }
    ChildPlan plan{&options,
                   ptyName.empty() ? nullptr : ptyName.c_str(),
                   outPath.c_str(),
                   errPath.c_str(),
                   {},
                   argv.data(),
                   envp.data(),
                   -1};
    CPU_ZERO(&plan.cpus);
    for (int cpu : options.cpus) {
        CPU_SET(cpu, &plan.cpus);
    }
    int errorPipe[2];
    if (::pipe2(errorPipe, O_CLOEXEC) != 0) {
        throw SystemError("pipe2", errno);
    }
    plan.errorPipe = errorPipe[1];
    start_ = Clock::now();
    deadline_ = start_ + options.timeLimit;
    pid_ = ::fork();
    if (pid_ < 0) {
        int code = errno;
        ::close(errorPipe[0]);
        ::close(errorPipe[1]);
        throw SystemError("fork", code);
    }
    if (pid_ == 0) {
        ::close(errorPipe[0]);
        if (body != nullptr) {
            RunBody(plan, *body, options.timeLimit);
        }
        ExecChild(plan);
    }
    ::close(errorPipe[1]);
    pidFd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));  // -1: polled instead
    int childErrno = 0;
    ssize_t got;
    do {
        got = ::read(errorPipe[0], &childErrno, sizeof childErrno);
    } while (got < 0 && errno == EINTR);
    ::close(errorPipe[0]);
    if (got == static_cast<ssize_t>(sizeof childErrno)) {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        reaped_ = true;
        throw SystemError(
            "cannot start " + (body != nullptr ? std::string("a forked body") : options.argv[0]),
            childErrno);
    }
}

Child::~Child() {
    if (!reaped_ && pid_ > 0) {
        if (stopGrace_.count() > 0) {
            Signal(SIGTERM);
            WaitFor(stopGrace_);
        }
        if (!reaped_) {
            Signal(SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
    }
    // Helpers the child started in its group (Wine's console host) may outlive it.
    if (ownSession_ && pid_ > 0) {
        ::kill(-pid_, SIGKILL);
    }
    if (pidFd_ >= 0) {
        ::close(pidFd_);
    }
    if (ptyMaster_ >= 0) {
        ::close(ptyMaster_);
    }
}

void Child::Reap(int waitStatus) {
    reaped_ = true;
    exit_.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_);
    if (WIFEXITED(waitStatus)) {
        exit_.exited = true;
        exit_.exitStatus = WEXITSTATUS(waitStatus);
    } else if (WIFSIGNALED(waitStatus)) {
        exit_.signal = WTERMSIG(waitStatus);
    }
}

bool Child::Running() {
    if (reaped_) {
        return false;
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        Reap(status);
        return false;
    }
    return true;
}

bool Child::WaitFor(std::chrono::milliseconds maxWait) {
    auto until = std::min(Clock::now() + maxWait, deadline_);
    while (Running()) {
        auto left = until - Clock::now();
        if (left <= Clock::duration::zero()) {
            return false;
        }
        if (pidFd_ >= 0) {
            // Wakes the moment the child ends, so a benchmark's timing is not rounded to a step.
            pollfd watch{pidFd_, POLLIN, 0};
            auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
            ::poll(&watch, 1, static_cast<int>(std::min<long long>(ms, INT_MAX)));
        } else {
            std::this_thread::sleep_for(std::min<Clock::duration>(kPollStep, left));
        }
    }
    return true;
}

const ExitInfo& Child::Wait() {
    if (!WaitFor(std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()) +
                 kPollStep)) {
        Signal(SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        Reap(status);
        exit_.timedOut = true;
    }
    return exit_;
}

void Child::Signal(int signalNumber) {
    if (!reaped_) {
        ::kill(ownSession_ ? -pid_ : pid_, signalNumber);
    }
}

std::string Child::Stdout() const {
    return ReadFile(captureDir_->File("stdout"));
}

std::string Child::Stderr() const {
    return ReadFile(captureDir_->File("stderr"));
}

bool Child::FirstStdoutLine(std::string& line, std::chrono::milliseconds maxWait) {
    auto until = Clock::now() + maxWait;
    for (;;) {
        std::string text = Stdout();
        std::size_t end = text.find('\n');
        if (end != std::string::npos) {
            line = text.substr(0, end);
            return true;
        }
        if (!Running() || Clock::now() >= until) {
            return false;
        }
        std::this_thread::sleep_for(kPollStep);
    }
}

std::string Describe(const ExitInfo& info) {
    if (info.timedOut) {
        return "timed out after " + std::to_string(info.elapsed.count()) + " ms";
    }
    if (info.exited) {
        return "exit " + std::to_string(info.exitStatus);
    }
    return "signal " + std::to_string(info.signal);
}

}  // namespace test_support
