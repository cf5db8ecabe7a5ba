// Test helpers that start a real program as a child and never let it hang the suite.
// Each child runs in its own session (setsid), optionally with a fresh pseudo-terminal as its
// controlling terminal; its stdout and stderr go to files read back by the test; a time limit
// counted from the start kills the whole process group when it expires.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace test_support {

// A unique directory under $TMPDIR (or /tmp), removed with everything in it on destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::string ReadFile(const std::string& path);  // empty when the file cannot be read
void WriteFile(const std::string& path, const std::string& contents);  // throws on failure

struct SpawnOptions {
    std::vector<std::string> argv;      // argv[0] is the program's path
    std::vector<std::string> extraEnv;  // NAME=VALUE, replacing an inherited NAME
    std::string workDir;                // empty: the test's own
    std::string stdinPath = "/dev/null";
    bool controllingPty = false;  // a new pty becomes the child's controlling terminal
    bool stdoutToPty = false;     // with controllingPty: standard output goes to it as well
    std::chrono::milliseconds timeLimit{10000};
};

struct ExitInfo {
    bool exited = false;  // ended by exit(); exitStatus is then valid
    int exitStatus = -1;
    int signal = 0;                        // the signal that ended it, or 0
    bool timedOut = false;                 // killed by the time limit
    std::chrono::milliseconds elapsed{0};  // from the start until it was reaped
};

class Child {
  public:
    // Starts the program; throws std::runtime_error when it cannot be started (exec failure
    // included, reported from the child through a close-on-exec pipe).
    explicit Child(const SpawnOptions& options);
    ~Child();  // kills the process group if still running, and reaps it
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t Pid() const { return pid_; }
    // Master side of the controlling pty (-1 without one); stays open until destruction.
    int PtyMaster() const { return ptyMaster_; }

    bool Running();  // reaps without blocking when the child has ended
    // Blocks until the child ends or its time limit expires (then kills the group).
    const ExitInfo& Wait();
    // Waits at most maxWait for the end; returns false if the child still runs (not killed).
    bool WaitFor(std::chrono::milliseconds maxWait);
    void Signal(int signalNumber);  // to the whole process group

    std::string Stdout() const;
    std::string Stderr() const;
    // Waits until stdout holds a complete first line (without its '\n'); false on time-out or
    // when the child ended first.
    bool FirstStdoutLine(std::string& line, std::chrono::milliseconds maxWait);

  private:
    void Reap(int waitStatus);

    std::unique_ptr<TempDir> captureDir_;
    pid_t pid_ = -1;
    int ptyMaster_ = -1;
    bool reaped_ = false;
    ExitInfo exit_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point deadline_;
};

// Describes an ExitInfo for assertion messages: "exit 3", "signal 9", "timed out".
std::string Describe(const ExitInfo& info);

}  // namespace test_support
