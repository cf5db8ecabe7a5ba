// Whole-process benchmarks of portboot against devsim, each against a baseline taken in the same
// run: the line time of a paced line, `cat image > pty` on an unpaced one, and one loader
// against eight at once. Every pair gets its own pseudo-terminal and temporary directory.
// Usage: bench_loader BIN_DIR [--runs N] [--only line|pty|parallel]...
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

using bench::Clock;

constexpr std::size_t kImageBytes = 65534;
// A small image on a slow line, as a board's first-stage program over a USB serial adapter.
constexpr std::size_t kSmallImageBytes = 6000;
constexpr unsigned kSlowBaud = 9600;
// Every byte on the wire, both directions: DevInit, DevLoadCode, 4 length bytes, the image,
// DevEndOfCode, DevSaveCode, 2 entry bytes from the host; the 4 status bytes come back, and the
// host waits for each before it goes on, so they are on the critical path too.
constexpr std::size_t WireBytes(std::size_t imageBytes) {
    return 2 + 4 + imageBytes + 1 + 1 + 2 + 4;
}
constexpr double kBitsPerByte = 10.0;  // start bit, 8 data bits, stop bit
constexpr std::chrono::milliseconds kChildLimit{120000};
constexpr int kParallelPairs = 8;
constexpr char kImageName[] = "image.bin";

using bench::Options;

// One loader and its device, each pair in its own directory on its own pseudo-terminal.
struct Pair {
    bench::TempDir dir;
    std::unique_ptr<test_support::DevsimSession> devsim;
    std::unique_ptr<test_support::Child> portboot;
};

std::unique_ptr<Pair> StartPair(const Options& o, const std::vector<std::string>& devsimOptions,
                                std::size_t imageBytes = kImageBytes) {
    auto pair = std::make_unique<Pair>();
    bench::WriteImage(pair->dir.File(kImageName), imageBytes);
    // A sink ends only on an idle line; the time it waits is outside every measurement.
    const bool sink = !devsimOptions.empty() && devsimOptions.front() == "--sink";
    std::vector<std::string> args = {"--idle-ms", sink ? "300" : "2500"};
    args.insert(args.end(), devsimOptions.begin(), devsimOptions.end());
    pair->devsim = bench::StartDevsim(o.binDir, pair->dir, args, kChildLimit);
    return pair;
}

void LaunchPortboot(const Options& o, Pair& pair, unsigned baud) {
    test_support::SpawnOptions launch;
    launch.argv = {o.binDir + "/portboot", kImageName, pair.devsim->SlavePath(),
                   std::to_string(baud), "L"};
    launch.workDir = pair.dir.Path();
    launch.stdoutPath = "/dev/null";
    launch.timeLimit = kChildLimit;
    pair.portboot = bench::Start(launch);
}

// The load must have reached the device whole, or the time means nothing.
void CheckPair(Pair& pair, int portbootStatus, std::size_t imageBytes) {
    // devsim ends on its own (complete sequence, idle line or time limit); the launcher's time
    // limit covers a devsim that never does.
    test_support::DeviceRecord device = pair.devsim->Finish();
    const std::string wanted = std::to_string(imageBytes) + "/";
    if (portbootStatus != 0 || device.fields["result"] != "complete" ||
        device.fields["image"].rfind(wanted, 0) != 0) {
        bench::Fail("load incomplete (portboot status " + std::to_string(portbootStatus) +
                    "): " + device.summary);
    }
}

// Wall time of n loads started together, from the first spawn to the last exit.
double TimeParallelLoads(const Options& o, int n, unsigned baud,
                         const std::vector<std::string>& devsimOptions,
                         std::size_t imageBytes = kImageBytes) {
    std::vector<std::unique_ptr<Pair>> pairs;
    for (int i = 0; i < n; ++i) {
        pairs.push_back(StartPair(o, devsimOptions, imageBytes));
    }
    const Clock::time_point start = Clock::now();
    for (auto& pair : pairs) {
        LaunchPortboot(o, *pair, baud);
    }
    std::vector<int> statuses;
    for (auto& pair : pairs) {
        const test_support::ExitInfo& exit = pair->portboot->Wait();
        statuses.push_back(exit.exited ? exit.exitStatus : -1);
    }
    const double ms = bench::ElapsedMs(start, Clock::now());
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        CheckPair(*pairs[i], statuses[i], imageBytes);
    }
    return ms;
}

// `cat image > pty` into a draining devsim: the open, the copy and the close of the whole
// process, the same way the shell would run it.
double TimeCat(const Options& o) {
    auto pair = StartPair(o, {"--sink"});
    test_support::SpawnOptions launch;
    launch.argv = {"/bin/cat", pair->dir.File(kImageName)};
    launch.stdoutPath = pair->devsim->SlavePath();
    launch.timeLimit = kChildLimit;
    const Clock::time_point start = Clock::now();
    const test_support::ExitInfo exit = bench::Start(launch)->Wait();
    const double ms = bench::ElapsedMs(start, Clock::now());
    test_support::DeviceRecord device = pair->devsim->Finish();
    if (!exit.exited || exit.exitStatus != 0 ||
        device.fields["received"] != std::to_string(kImageBytes)) {
        bench::Fail("cat into the pty incomplete: " + device.summary);
    }
    return ms;
}

void LineBenchmark(const Options& o, unsigned baud, int runs,
                   std::size_t imageBytes = kImageBytes) {
    const double lineMs = static_cast<double>(WireBytes(imageBytes)) * kBitsPerByte * 1000.0 / baud;
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        times.push_back(
            TimeParallelLoads(o, 1, baud, {"--pace", std::to_string(baud)}, imageBytes));
        std::printf("# line %u run %d, %zu bytes: %.2f ms (line time %.2f ms)\n", baud, i + 1,
                    imageBytes, times.back(), lineMs);
    }
    const double median = bench::Median(times);
    const double ratio = median / lineMs;
    const std::string size =
        imageBytes == kImageBytes ? "" : ", " + std::to_string(imageBytes) + " B";
    bench::PrintRow("1 portboot vs line time, " + std::to_string(baud) + " Bd" + size,
                    bench::Fixed(median, 1, "ms"), bench::Fixed(lineMs, 1, "ms line"), ratio,
                    "<= 1.010", true, ratio <= 1.010);
}

void PtyBenchmark(const Options& o, int runs) {
    std::vector<double> loads, cats;
    for (int i = 0; i < runs; ++i) {
        loads.push_back(TimeParallelLoads(o, 1, 921600, {}));
        cats.push_back(TimeCat(o));
        std::printf("# pty run %d: portboot %.2f ms, cat %.2f ms\n", i + 1, loads.back(),
                    cats.back());
    }
    const double load = bench::Median(loads);
    const double cat = bench::Median(cats);
    bench::PrintRow("2 portboot, unpaced pty", bench::Fixed(load, 2, "ms"),
                    bench::Fixed(cat, 2, "ms cat"), load / cat, "-", false, false);
}

void ParallelBenchmark(const Options& o, int runs) {
    const unsigned baud = 921600;
    const std::vector<std::string> pace = {"--pace", std::to_string(baud)};
    std::vector<double> ones, eights;
    for (int i = 0; i < runs; ++i) {
        ones.push_back(TimeParallelLoads(o, 1, baud, pace));
        eights.push_back(TimeParallelLoads(o, kParallelPairs, baud, pace));
        std::printf("# parallel run %d: one %.2f ms, eight %.2f ms\n", i + 1, ones.back(),
                    eights.back());
    }
    const double one = bench::Median(ones);
    const double eight = bench::Median(eights);
    const double ratio = eight / one;
    bench::PrintRow("5 eight loads at once, 921600 Bd", bench::Fixed(eight, 1, "ms"),
                    bench::Fixed(one, 1, "ms one"), ratio, "<= 1.10", true, ratio <= 1.10);
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = bench::ParseOptions(
        argc, argv, 5, "usage: bench_loader BIN_DIR [--runs N] [--only line|pty|parallel]...");
    if (o.Wanted("line")) {
        // A load at 57600 Bd takes 11.4 s: fewer runs of it, the median still of three.
        LineBenchmark(o, 57600, std::min(o.runs, 3));
        LineBenchmark(o, 921600, o.runs);
        // The kernel takes this image whole at once; the load must still wait out its line time
        // for every status and end when the line has carried it, not 2 s after it was queued.
        LineBenchmark(o, kSlowBaud, std::min(o.runs, 3), kSmallImageBytes);
    }
    if (o.Wanted("pty")) {
        PtyBenchmark(o, o.runs);
    }
    if (o.Wanted("parallel")) {
        ParallelBenchmark(o, o.runs);
    }
    return 0;
}
