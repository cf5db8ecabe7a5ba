// The one way tests and benchmarks start a process, and never let it hang the suite. Each child
// runs in its own session (setsid), optionally with a terminal as its controlling terminal; its
// stdout and stderr go to files read back by the test unless redirected; a time limit counted
// from the start kills the whole process group when it expires.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
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
    std::vector<std::string> argv;      // argv[0] is the program's path (unused with a body)
    std::vector<std::string> extraEnv;  // NAME=VALUE, replacing an inherited NAME
    std::string workDir;                // empty: the test's own

    // Standard input: stdinFd when given (dup'ed, the caller keeps its copy), else stdinPath.
    std::string stdinPath = "/dev/null";
    int stdinFd = -1;
    // Standard output: stdoutFd when given, else stdoutPath (created, truncated) when given,
    // else a file read back through Child::Stdout().
    int stdoutFd = -1;
    std::string stdoutPath;
    bool stderrToStdout = false;  // otherwise captured, read back through Child::Stderr()

    // The controlling terminal: a new pty whose master is Child::PtyMaster() (controllingPty),
    // or an existing terminal named by its path (ttyPath). The *ToPty flags put the standard
    // descriptors on it as well.
    bool controllingPty = false;
    std::string ttyPath;
    unsigned short ptyRows = 0;  // the new pty's window size; 0: as the kernel makes it
    unsigned short ptyCols = 0;
    bool stdinFromPty = false;
    bool stdoutToPty = false;
    bool stderrToPty = false;

    // A session (and process group) of its own, so the child never owns the test's terminal and
    // its helpers die with it. Off only where sharing the caller's session is what is measured
    // (the scheduler groups processes by session); then there is no terminal of its own either.
    bool ownSession = true;
    std::vector<int> cpus;  // the child runs only on these CPUs; empty: as the caller
    std::chrono::milliseconds timeLimit{10000};
    // On destruction: SIGTERM and this long to end (Wine tidies up its console) before SIGKILL.
    std::chrono::milliseconds stopGrace{0};
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
    // Runs body in a forked copy of the test, set up as a program would be, and ends the child
    // with body's value as its exit status. For code of the test itself that needs a process of
    // its own (a controlling terminal, a second user of shared objects). A body child also gets
    // an alarm at its time limit, so it dies even if nobody waits for it.
    Child(const SpawnOptions& options, const std::function<int()>& body);
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
    void Start(const SpawnOptions& options, const std::function<int()>* body);
    void Reap(int waitStatus);

    std::unique_ptr<TempDir> captureDir_;
    pid_t pid_ = -1;
    int ptyMaster_ = -1;
    int pidFd_ = -1;  // becomes readable the moment the child ends
    bool ownSession_ = true;
    bool reaped_ = false;
    std::chrono::milliseconds stopGrace_{0};
    ExitInfo exit_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point deadline_;
};

// Describes an ExitInfo for assertion messages: "exit 3", "signal 9", "timed out".
std::string Describe(const ExitInfo& info);

}  // namespace test_support
