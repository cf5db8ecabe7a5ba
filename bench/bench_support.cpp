#include "bench_support.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>

extern char** environ;

namespace bench {

double ElapsedMs(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

void Fail(const std::string& message) {
    std::fprintf(stderr, "bench: %s\n", message.c_str());
    std::exit(1);
}

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/portboot-bench-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        Fail("mkdtemp: " + std::string(std::strerror(errno)));
    }
    path_ = buffer.data();
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void WriteImage(const std::string& path, std::size_t bytes) {
    std::mt19937 random(20261209u);
    std::string image(bytes, '\0');
    for (char& c : image) {
        c = static_cast<char>(random() & 0xFF);
    }
    std::ofstream file(path, std::ios::binary);
    file.write(image.data(), static_cast<std::streamsize>(image.size()));
    if (!file) {
        Fail("cannot write " + path);
    }
}

pid_t Spawn(const SpawnSpec& launch) {
    std::vector<char*> argv;
    for (const std::string& a : launch.argv) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, launch.stdinPath.c_str(), O_RDONLY, 0);
    if (launch.stdoutFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, launch.stdoutFd, 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, launch.stdoutPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY, 0600);
    }
    if (!launch.cwd.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, launch.cwd.c_str());
    }
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    if (launch.newSession) {
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    }
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        Fail(launch.argv[0] + ": " + std::strerror(rc));
    }
    return pid;
}

int WaitWithLimit(pid_t pid, int timeoutMs) {
    // A watchdog thread rather than a WNOHANG poll: the blocking waitpid returns the moment the
    // child ends, so the timing is not rounded to a poll interval.
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool killed = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(mutex);
        if (!done.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return finished; })) {
            killed = true;
            kill(pid, SIGKILL);
        }
    });
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        finished = true;
    }
    done.notify_one();
    watchdog.join();
    return killed ? -1 : status;
}

Devsim StartDevsim(const std::string& binDir, const std::vector<std::string>& options) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        Fail("pipe: " + std::string(std::strerror(errno)));
    }
    SpawnSpec launch;
    launch.argv = {binDir + "/devsim"};
    launch.argv.insert(launch.argv.end(), options.begin(), options.end());
    launch.stdoutFd = pipeFds[1];
    Devsim devsim;
    devsim.pid = Spawn(launch);
    close(pipeFds[1]);
    devsim.out = pipeFds[0];
    char c = 0;
    while (read(devsim.out, &c, 1) == 1 && c != '\n') {
        devsim.port += c;
    }
    if (devsim.port.empty()) {
        Fail("devsim printed no port");
    }
    return devsim;
}

std::string FinishDevsim(Devsim& devsim, int timeoutMs) {
    std::string rest;
    // devsim ends on its own (complete sequence, idle line or time limit); its stdout closes
    // then. The watchdog covers a devsim that never does.
    std::thread reader([&] {
        char buffer[512];
        ssize_t n = 0;
        while ((n = read(devsim.out, buffer, sizeof buffer)) > 0) {
            rest.append(buffer, static_cast<std::size_t>(n));
        }
    });
    WaitWithLimit(devsim.pid, timeoutMs);
    reader.join();
    close(devsim.out);
    devsim.out = -1;
    const std::size_t end = rest.find('\n');
    return end == std::string::npos ? rest : rest.substr(0, end);
}

std::vector<int> AllowedCpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) {
        Fail("sched_getaffinity: " + std::string(std::strerror(errno)));
    }
    std::vector<int> cpus;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &set)) {
            cpus.push_back(cpu);
        }
    }
    return cpus;
}

void SetAffinity(pid_t pid, const std::vector<int>& cpus) {
    cpu_set_t set;
    CPU_ZERO(&set);
    for (int cpu : cpus) {
        CPU_SET(cpu, &set);
    }
    if (sched_setaffinity(pid, sizeof set, &set) != 0) {
        Fail("sched_setaffinity: " + std::string(std::strerror(errno)));
    }
}

double Median(std::vector<double> values) {
    return Percentile(std::move(values), 50.0);
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(values.size())));
    rank = std::clamp<std::size_t>(rank, 1, values.size());
    return values[rank - 1];
}

std::string Fixed(double value, int decimals, const std::string& unit) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return unit.empty() ? buffer : std::string(buffer) + " " + unit;
}

void PrintRow(const std::string& name, const std::string& measured, const std::string& baseline,
              double ratio, const std::string& goal, bool hasGoal, bool met) {
    std::printf("ROW|%s|%s|%s|%.3f|%s|%s\n", name.c_str(), measured.c_str(), baseline.c_str(),
                ratio, goal.c_str(), !hasGoal ? "-" : (met ? "yes" : "NO"));
    std::fflush(stdout);
}

Options ParseOptions(int argc, char** argv, int defaultRuns, const char* usage) {
    if (argc < 2) {
        Fail(usage);
    }
    Options o;
    o.binDir = argv[1];
    o.runs = defaultRuns;
    for (int i = 2; i < argc; i += 2) {
        const std::string name = argv[i];
        if (i + 1 == argc) {
            Fail(name + " needs a value; " + usage);
        }
        if (name == "--runs") {
            o.runs = std::max(1, std::atoi(argv[i + 1]));
        } else if (name == "--only") {
            o.only.insert(argv[i + 1]);
        } else {
            Fail("unknown option " + name);
        }
    }
    return o;
}

}  // namespace bench
