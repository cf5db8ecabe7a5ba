// Small helpers shared by the benchmark programs: a unique temporary directory, spawning a
// program with its descriptors redirected (optionally in its own session), timing a child from
// spawn to exit with a watchdog, placing processes on CPUs, medians and percentiles, and the
// one-line result format that bench/run turns into the table.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

// BIN_DIR [--runs N] [--only NAME]...: where the programs are, how many runs, which parts.
struct Options {
    std::string binDir;
    int runs = 0;
    std::set<std::string> only;

    bool Wanted(const char* name) const { return only.empty() || only.count(name) > 0; }
};
Options ParseOptions(int argc, char** argv, int defaultRuns, const char* usage);

double ElapsedMs(Clock::time_point from, Clock::time_point to);

// mkdtemp under $TMPDIR; removed with everything in it when the owner goes.
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

// Writes `bytes` pseudo-random bytes (fixed seed: every run loads the same image).
void WriteImage(const std::string& path, std::size_t bytes);

struct SpawnSpec {
    std::vector<std::string> argv;
    std::string stdinPath = "/dev/null";   // opened read-only as 0
    std::string stdoutPath = "/dev/null";  // opened write-only as 1 (when stdoutFd < 0)
    int stdoutFd = -1;                     // dup'ed to 1 when given
    bool newSession = true;                // no program here may own our terminal
    std::string cwd;                       // working directory, when given
};

// posix_spawn; returns the pid or exits the benchmark with a message when it cannot.
pid_t Spawn(const SpawnSpec& launch);

// Waits for pid; kills it after timeoutMs. Returns the wait status, or -1 when it was killed.
int WaitWithLimit(pid_t pid, int timeoutMs);

// The slave path devsim prints first, then (after it ends) its summary line.
struct Devsim {
    pid_t pid = -1;
    int out = -1;  // read end of devsim's stdout
    std::string port;
};
Devsim StartDevsim(const std::string& binDir, const std::vector<std::string>& options);
// Waits for devsim to end and returns its summary line ("" when it had none).
std::string FinishDevsim(Devsim& devsim, int timeoutMs);

// The CPUs this process may run on, in ascending order (as it was started: ask before pinning).
std::vector<int> AllowedCpus();
// sched_setaffinity: pid 0 is the calling thread, another pid that process's (main) thread;
// children forked or spawned afterwards inherit the set. Exits the benchmark when refused.
void SetAffinity(pid_t pid, const std::vector<int>& cpus);

double Median(std::vector<double> values);
// Nearest-rank percentile, p in (0, 100].
double Percentile(std::vector<double> values, double p);

// One table row on stdout: "ROW|benchmark|measured|baseline|ratio|goal|met".
void PrintRow(const std::string& name, const std::string& measured, const std::string& baseline,
              double ratio, const std::string& goal, bool hasGoal, bool met);
std::string Fixed(double value, int decimals, const std::string& unit);

[[noreturn]] void Fail(const std::string& message);

}  // namespace bench
