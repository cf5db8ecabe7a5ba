#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
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

// In the child after fork: only async-signal-safe calls. Reports errno through the pipe.
[[noreturn]] void ExecChild(const SpawnOptions& options, const char* ptyName, const char* outPath,
                            const char* errPath, char** argv, char** envp, int errorPipe) {
    auto fail = [errorPipe]() {
        int code = errno;
        ssize_t ignored = ::write(errorPipe, &code, sizeof code);
        (void)ignored;
        ::_exit(127);
    };
    if (::setsid() < 0) {
        fail();
    }
    if (ptyName != nullptr) {
        // Opened without O_NOCTTY by a session leader with no terminal: it becomes the
        // controlling terminal; TIOCSCTTY makes sure of it.
        int slave = ::open(ptyName, O_RDWR);
        if (slave < 0 || ::ioctl(slave, TIOCSCTTY, 0) < 0) {
            fail();
        }
    }
    int in = ::open(options.stdinPath.c_str(), O_RDONLY);
    int out = ptyName != nullptr && options.stdoutToPty
                  ? ::open(ptyName, O_WRONLY)
                  : ::open(outPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(errPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 ||
        ::dup2(err, 2) < 0) {
        fail();
    }
    if (!options.workDir.empty() && ::chdir(options.workDir.c_str()) != 0) {
        fail();
    }
    ::execve(argv[0], argv, envp);
    fail();
    ::_exit(127);  // fail() never returns, but the compiler cannot see through the lambda
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
    std::vector<std::string> args = options.argv;
    std::vector<std::string> env = BuildEnvironment(options.extraEnv);
    std::vector<char*> argv = PointersTo(args);
    std::vector<char*> envp = PointersTo(env);
    std::string outPath = captureDir_->File("stdout");
    std::string errPath = captureDir_->File("stderr");

    std::string ptyName;
    if (options.controllingPty) {
        ptyMaster_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128];
        if (ptyMaster_ < 0 || ::grantpt(ptyMaster_) != 0 || ::unlockpt(ptyMaster_) != 0 ||
            ::ptsname_r(ptyMaster_, name, sizeof name) != 0) {
            throw SystemError("controlling pty", errno);
        }
        ptyName = name;
    }
    int errorPipe[2];
    if (::pipe2(errorPipe, O_CLOEXEC) != 0) {
        throw SystemError("pipe2", errno);
    }
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
        ExecChild(options, ptyName.empty() ? nullptr : ptyName.c_str(), outPath.c_str(),
                  errPath.c_str(), argv.data(), envp.data(), errorPipe[1]);
    }
    ::close(errorPipe[1]);
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
        throw SystemError("cannot start " + options.argv[0], childErrno);
    }
}

Child::~Child() {
    if (!reaped_ && pid_ > 0) {
        ::kill(-pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
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
        if (Clock::now() >= until) {
            return false;
        }
        std::this_thread::sleep_for(kPollStep);
    }
    return true;
}

const ExitInfo& Child::Wait() {
    if (!WaitFor(std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()) +
                 kPollStep)) {
        ::kill(-pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        Reap(status);
        exit_.timedOut = true;
    }
    return exit_;
}

void Child::Signal(int signalNumber) {
    if (!reaped_) {
        ::kill(-pid_, signalNumber);
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
