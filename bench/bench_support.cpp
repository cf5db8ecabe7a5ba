#include "bench_support.h"

#include "write_all.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>

namespace bench {

double ElapsedMs(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

void Fail(const std::string& message) {
    std::fprintf(stderr, "bench: %s\n", message.c_str());
    std::exit(1);
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

std::unique_ptr<test_support::Child> Start(const test_support::SpawnOptions& options) {
    try {
        return std::make_unique<test_support::Child>(options);
    } catch (const std::exception& error) {
        Fail(error.what());
    }
}

std::unique_ptr<test_support::Child> Start(const test_support::SpawnOptions& options,
                                           const std::function<int()>& body) {
    try {
        return std::make_unique<test_support::Child>(options, body);
    } catch (const std::exception& error) {
        Fail(error.what());
    }
}

std::unique_ptr<test_support::DevsimSession> StartDevsim(const std::string& binDir,
                                                         const TempDir& dir,
                                                         const std::vector<std::string>& options,
                                                         std::chrono::milliseconds timeLimit) {
    try {
        return std::make_unique<test_support::DevsimSession>(binDir + "/devsim", dir, options,
                                                             timeLimit);
    } catch (const std::exception& error) {
        Fail(error.what());
    }
}

void WriteAll(int fd, const std::string& bytes) {
    if (!test_support::WriteAll(fd, bytes)) {
        Fail("write: " + std::string(std::strerror(errno)));
    }
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
