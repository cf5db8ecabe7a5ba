// Small helpers shared by the benchmark programs: starting processes and devsim through the
// tests' launcher and device session, placing processes on CPUs, medians and percentiles, and the
// one-line result format that bench/run turns into the table.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "child_process.h"
#include "devsim_session.h"

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

// The tests' temporary directory and launcher: a benchmark starts its processes the same way.
using test_support::TempDir;

// Writes `bytes` pseudo-random bytes (fixed seed: every run loads the same image).
void WriteImage(const std::string& path, std::size_t bytes);

// Starts a child through the tests' launcher (own session, time limit, output captured unless
// redirected); exits the benchmark with a message when it cannot.
std::unique_ptr<test_support::Child> Start(const test_support::SpawnOptions& options);
std::unique_ptr<test_support::Child> Start(const test_support::SpawnOptions& options,
                                           const std::function<int()>& body);

// devsim through the tests' device session, its files in dir; exits the benchmark when it
// cannot start. Finish() then gives what it received.
std::unique_ptr<test_support::DevsimSession> StartDevsim(const std::string& binDir,
                                                         const TempDir& dir,
                                                         const std::vector<std::string>& options,
                                                         std::chrono::milliseconds timeLimit);

// Writes all bytes; exits the benchmark when the descriptor refuses.
void WriteAll(int fd, const std::string& bytes);

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
