// conproxy through the client library against the physical limits measured in the same run:
// a ConNop5 turn against a raw futex ping-pong between two processes (same store/wake and
// load/wait pattern as the events), both placed alike on one CPU, on two CPUs, and where the
// scheduler puts them; and ConWriteText of 8 KiB blocks against the protocol's floor (a raw
// futex turn whose partner writes the block already converted, placed as the server is) and,
// for information, a write() loop of the same UTF-8 bytes, all into one pseudo-terminal drained
// by a reader thread.
// Usage: bench_conproxy BIN_DIR [--runs N] [--only nop|text]...
#include <fcntl.h>
#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "conproxy_client.h"
#include "conproxy_client_testing.h"

namespace {

using bench::Clock;

constexpr int kTightTurns = 20000;
constexpr int kPacedTurns = 2000;
constexpr int kWarmupTurns = 200;
constexpr int kTightBlockTurns = 100;
constexpr int kPacedBlockTurns = 20;
constexpr double kNopGoalRatio = 1.15;
constexpr double kTextGoalRatio = 1.10;
constexpr std::size_t kTextBlockBytes = 8192;
constexpr int kTextBlocks = 1024;  // 8 MiB of code page 866 text per run and writer
constexpr int kTextSegmentBlocks = 16;
constexpr int kReplyLimitMs = 10000;
// Longer than one run of the loop, however loaded the machine.
constexpr std::chrono::milliseconds kPartnerLimit{600000};

using bench::Options;

// ---- the raw limit: two processes, two futex words ----

void SetWord(uint32_t* word) {
    __atomic_store_n(word, 1u, __ATOMIC_RELEASE);
    syscall(SYS_futex, word, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}
void ResetWord(uint32_t* word) {
    __atomic_store_n(word, 0u, __ATOMIC_RELEASE);
}
void WaitWord(uint32_t* word) {
    while (__atomic_load_n(word, __ATOMIC_ACQUIRE) == 0) {
        syscall(SYS_futex, word, FUTEX_WAIT, 0, nullptr, nullptr, 0);
    }
}

// Where the two processes of a turn run. On explicit CPUs the rows measure the turn; left to
// the scheduler they measure where it happened to put the two (on an idle two-CPU machine one
// run in five gave the other order of conproxy and raw), so those rows are information only.
// ownSession starts the server with newSession and the raw partner in a session of its own: with
// the scheduler's autogroups each session is its own group.
struct Placement {
    std::string name;
    std::vector<int> clientCpus;
    std::vector<int> serverCpus;
    bool ownSession = false;
    bool hasGoal = false;
};

// The answering side of the raw ping-pong: a forked process that waits on one word and sets the
// other, exactly as the server does with the two events, on the server's CPUs. work, when given,
// is what it does between the two, as the server carries out a command.
class RawPartner {
  public:
    explicit RawPartner(const Placement& placement, int stdoutFd = -1,
                        std::function<void()> work = {}) {
        void* shared =
            mmap(nullptr, kPageBytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (shared == MAP_FAILED) {
            bench::Fail("mmap: " + std::string(std::strerror(errno)));
        }
        // Separate cache lines, as two shared-memory objects would be. They would also be two
        // pages: that costs conproxy 0.4 us at one turn per ms and nothing in a tight loop.
        words_ = static_cast<uint32_t*>(shared);
        // Forked by the tests' launcher, which places it on the server's CPUs (and in a session
        // of its own only where the server gets one too) before the loop starts.
        test_support::SpawnOptions options;
        options.ownSession = placement.ownSession;
        options.cpus = placement.serverCpus;
        options.timeLimit = kPartnerLimit;
        options.stdoutFd = stdoutFd;
        child_ = bench::Start(options, [this, &work] {
            for (;;) {
                WaitWord(Request());
                ResetWord(Request());
                if (__atomic_load_n(Stop(), __ATOMIC_ACQUIRE) != 0) {
                    return 0;
                }
                if (work) {
                    work();
                }
                SetWord(Reply());
            }
        });
    }
    ~RawPartner() {
        __atomic_store_n(Stop(), 1u, __ATOMIC_RELEASE);
        SetWord(Request());
        child_->WaitFor(std::chrono::milliseconds(kReplyLimitMs));
        child_.reset();  // killed if it did not end
        munmap(words_, kPageBytes);
    }
    RawPartner(const RawPartner&) = delete;
    RawPartner& operator=(const RawPartner&) = delete;

    void Turn() {
        ResetWord(Reply());
        SetWord(Request());
        WaitWord(Reply());
    }

  private:
    static constexpr std::size_t kPageBytes = 4096;
    uint32_t* Request() { return words_; }
    uint32_t* Reply() { return words_ + 16; }
    uint32_t* Stop() { return words_ + 32; }
    uint32_t* words_ = nullptr;
    std::unique_ptr<test_support::Child> child_;
};

// ---- conproxy through the client library ----

struct Server {
    conclient::ConproxyClient client;
    // cpus: where the server runs once it is ready; empty leaves it on the client's.
    bool Start(const Options& o, int stdoutFd, bool ownSession, const std::vector<int>& cpus = {}) {
        std::string error;
        conclient::TestStartOptions start;
        start.serverPath = o.binDir + "/conproxy";
        start.stdinFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
        start.stdoutFd = stdoutFd;
        start.newSession = ownSession;
        const bool ok = client.Open(conclient::UniqueNames(), &error) &&
                        conclient::ClientTestAccess::StartServer(client, start, &error) &&
                        client.WaitReady() == conclient::WaitResult::kReplied;
        close(start.stdinFd);
        if (!ok) {
            bench::Fail("conproxy did not start: " + error);
        }
        if (!cpus.empty()) {
            bench::SetAffinity(static_cast<pid_t>(client.ServerPid()), cpus);
        }
        return ok;
    }
    void Stop() {
        int32_t status = 0;
        client.Exit(&status);
        client.WaitServerExit(kReplyLimitMs);
    }
};

void Check(conclient::WaitResult r) {
    if (r != conclient::WaitResult::kReplied) {
        bench::Fail(std::string("conproxy turn: ") + conclient::WaitResultName(r));
    }
}

// Per-turn times in microseconds of the two partners, taken in alternating blocks so that the
// load of the shared machine falls on both alike. Paced turns start on a millisecond boundary.
void TimeTurns(int turns, bool paced, RawPartner& raw, Server& server, std::vector<double>& rawUs,
               std::vector<double>& nopUs) {
    auto one = [&](bool conproxy, std::vector<double>* out) {
        if (paced) {
            std::this_thread::sleep_until(
                std::chrono::ceil<std::chrono::milliseconds>(Clock::now()));
        }
        const Clock::time_point start = Clock::now();
        if (conproxy) {
            Check(server.client.Nop(conclient::ConNop5));
        } else {
            raw.Turn();
        }
        if (out != nullptr) {
            out->push_back(bench::ElapsedMs(start, Clock::now()) * 1000.0);
        }
    };
    for (int i = 0; i < kWarmupTurns; ++i) {
        one(false, nullptr);
        one(true, nullptr);
    }
    const int block = paced ? kPacedBlockTurns : kTightBlockTurns;
    for (int done = 0; done < turns; done += block) {
        for (int i = 0; i < block; ++i) {
            one(false, &rawUs);
        }
        for (int i = 0; i < block; ++i) {
            one(true, &nopUs);
        }
    }
}

void NopBenchmark(const Options& o, bool paced, const Placement& placement) {
    const int turns = paced ? kPacedTurns : kTightTurns;
    const std::string mode = placement.name + (paced ? ", 1/ms" : ", tight");
    std::vector<double> rawP50, rawP99, nopP50, nopP99, ratio50, ratio99;
    for (int run = 0; run < o.runs; ++run) {
        std::vector<double> raw, nop;
        {
            // The client is this thread; the partner and the server inherit its CPUs at start
            // and move to their own.
            bench::SetAffinity(0, placement.clientCpus);
            RawPartner partner(placement);
            Server server;
            server.Start(o, -1, placement.ownSession, placement.serverCpus);
            TimeTurns(turns, paced, partner, server, raw, nop);
            server.Stop();
        }
        rawP50.push_back(bench::Percentile(raw, 50));
        rawP99.push_back(bench::Percentile(raw, 99));
        nopP50.push_back(bench::Percentile(nop, 50));
        nopP99.push_back(bench::Percentile(nop, 99));
        // The ratio is taken within each run, where both sides met the same load, and the
        // median of those ratios is reported: the load on a shared machine moves between runs.
        ratio50.push_back(nopP50.back() / rawP50.back());
        ratio99.push_back(nopP99.back() / rawP99.back());
        std::printf(
            "# nop %s run %d: conproxy p50 %.2f us p99 %.2f us, raw p50 %.2f us p99 "
            "%.2f us\n",
            mode.c_str(), run + 1, nopP50.back(), nopP99.back(), rawP50.back(), rawP99.back());
    }
    const double p50 = bench::Median(nopP50), base50 = bench::Median(rawP50);
    const double p99 = bench::Median(nopP99), base99 = bench::Median(rawP99);
    const double r50 = bench::Median(ratio50), r99 = bench::Median(ratio99);
    bench::PrintRow("3 ConNop5 turn p50, " + mode, bench::Fixed(p50, 2, "us"),
                    bench::Fixed(base50, 2, "us futex"), r50, placement.hasGoal ? "<= 1.15" : "-",
                    placement.hasGoal, r50 <= kNopGoalRatio);
    bench::PrintRow("3 ConNop5 turn p99, " + mode, bench::Fixed(p99, 2, "us"),
                    bench::Fixed(base99, 2, "us futex"), r99, "-", false, false);
}

// Both processes on one CPU, then the client and the server on two different CPUs (the rows
// with the goal), then the scheduler's own choice: same session, as when the server serves its
// client's terminal, and own session, as for a terminal of its own.
std::vector<Placement> Placements(const std::vector<int>& cpus) {
    std::vector<Placement> placements;
    placements.push_back({"one CPU", {cpus.back()}, {cpus.back()}, false, true});
    if (cpus.size() >= 2) {
        placements.push_back({"two CPUs", {cpus[0]}, {cpus[1]}, false, true});
    } else {
        std::printf("# nop: only CPU %d may be used here; no two-CPU rows\n", cpus[0]);
    }
    placements.push_back({"unpinned", cpus, cpus, false, false});
    placements.push_back({"unpinned, own session", cpus, cpus, true, false});
    return placements;
}

// ---- text into a pseudo-terminal ----

// A pseudo-terminal whose master a thread drains, counting the bytes. The slave is raw, so the
// bytes drained are exactly the bytes written.
class DrainedPty {
  public:
    DrainedPty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
            bench::Fail("no pseudo-terminal");
        }
        slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY | O_CLOEXEC);
        struct termios tio {};
        if (slave_ < 0 || tcgetattr(slave_, &tio) != 0) {
            bench::Fail("cannot open the pty slave");
        }
        cfmakeraw(&tio);
        tcsetattr(slave_, TCSANOW, &tio);
        reader_ = std::thread([this] {
            char buffer[65536];
            ssize_t n = 0;
            while ((n = read(master_, buffer, sizeof buffer)) > 0) {
                std::lock_guard<std::mutex> lock(mutex_);
                drained_ += static_cast<std::size_t>(n);
                changed_.notify_all();
            }
        });
    }
    ~DrainedPty() {
        close(slave_);  // the master's read then fails with EIO and the reader ends
        reader_.join();
        close(master_);
    }
    int Slave() const { return slave_; }
    // Blocks rather than spins: on a small machine a spinning waiter takes the reader's CPU.
    void WaitDrained(std::size_t bytes) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return drained_ >= bytes; });
    }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t drained_ = 0;
    std::thread reader_;
};

// 8 KiB of code page 866: Russian and Latin words with spaces and line feeds.
std::string TextBlock866() {
    // "Привет, мир! " in code page 866, then an ASCII phrase.
    const std::string russian = "\x8F\xE0\xA8\xA2\xA5\xE2, \xAC\xA8\xE0! ";
    const std::string latin = "Hello, world! ";
    std::string block;
    for (int i = 0; block.size() < kTextBlockBytes; ++i) {
        block += (i % 2 == 0) ? russian : latin;
        if (i % 6 == 5) {
            block += '\n';
        }
    }
    block.resize(kTextBlockBytes);
    return block;
}

// The same conversion the server makes for the terminal, for the Cyrillic letters used here.
std::string ToUtf8(const std::string& text866) {
    std::string out;
    for (unsigned char c : text866) {
        unsigned code = c;
        if (c >= 0x80 && c <= 0xAF) {
            code = 0x410 + (c - 0x80);
        } else if (c >= 0xE0 && c <= 0xEF) {
            code = 0x440 + (c - 0xE0);
        } else if (c >= 0x80) {
            bench::Fail("text block holds a byte this benchmark does not convert");
        }
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

// Microseconds per block of the three writers.
struct TextTimes {
    double conproxyUs = 0;
    double floorUs = 0;
    double plainUs = 0;
};

// The block as the client library sends it: one request a piece, as much as the region holds
// past the data offset (an 8 KiB block does not fit one request), each piece already converted.
std::vector<std::string> RequestPieces(const std::string& block866) {
    const std::size_t room = conclient::kRegionBytes - conclient::kDefaultDataOffset;
    std::vector<std::string> pieces;
    for (std::size_t done = 0; done < block866.size(); done += room) {
        pieces.push_back(ToUtf8(block866.substr(done, room)));
    }
    return pieces;
}

// The three writers into one drained pseudo-terminal, in alternating segments so that the load
// of the shared machine falls on all alike. A segment's time runs until the reader has drained
// all of it. The floor takes a turn for each request the client library makes, and its partner
// writes that request's piece; it and the server run on the same CPUs, in the benchmark's
// session, and both write to the pty as their standard output. The client and the reader thread
// run on the placement's client CPUs.
TextTimes TimeText(const Options& o, const Placement& placement, const std::string& block866,
                   const std::string& blockUtf8) {
    bench::SetAffinity(0, placement.clientCpus);
    DrainedPty pty;
    Server server;
    server.Start(o, pty.Slave(), false, placement.serverCpus);
    const std::vector<std::string> pieces = RequestPieces(block866);
    std::size_t piece = 0;  // the partner's own count, in its own copy of the benchmark
    RawPartner floor(placement, pty.Slave(), [&pieces, &piece] {
        bench::WriteAll(STDOUT_FILENO, pieces[piece]);
        piece = (piece + 1) % pieces.size();
    });
    enum Writer { kPlain, kFloor, kConproxy };
    double ms[3] = {0, 0, 0};
    std::size_t drained = 0;
    for (int done = 0; done < kTextBlocks; done += kTextSegmentBlocks) {
        for (Writer writer : {kPlain, kFloor, kConproxy}) {
            const Clock::time_point start = Clock::now();
            for (int i = 0; i < kTextSegmentBlocks; ++i) {
                if (writer == kConproxy) {
                    Check(server.client.WriteText(block866));
                } else if (writer == kFloor) {
                    for (std::size_t turn = 0; turn < pieces.size(); ++turn) {
                        floor.Turn();
                    }
                } else {
                    bench::WriteAll(pty.Slave(), blockUtf8);
                }
            }
            drained += blockUtf8.size() * kTextSegmentBlocks;
            pty.WaitDrained(drained);
            ms[writer] += bench::ElapsedMs(start, Clock::now());
        }
    }
    server.Stop();
    const double perBlockUs = 1000.0 / kTextBlocks;
    return {ms[kConproxy] * perBlockUs, ms[kFloor] * perBlockUs, ms[kPlain] * perBlockUs};
}

void TextBenchmark(const Options& o, const Placement& placement) {
    const std::string block866 = TextBlock866();
    const std::string blockUtf8 = ToUtf8(block866);
    std::vector<double> conproxy, floor, plain, floorRatios, plainRatios;
    for (int run = 0; run < o.runs; ++run) {
        const TextTimes times = TimeText(o, placement, block866, blockUtf8);
        conproxy.push_back(times.conproxyUs);
        floor.push_back(times.floorUs);
        plain.push_back(times.plainUs);
        floorRatios.push_back(times.conproxyUs / times.floorUs);
        plainRatios.push_back(times.plainUs / times.conproxyUs);
        std::printf(
            "# text %s run %d: conproxy %.1f us a block, floor %.1f us, write() %.1f us "
            "(%.1f, %.1f, %.1f MB/s)\n",
            placement.name.c_str(), run + 1, times.conproxyUs, times.floorUs, times.plainUs,
            blockUtf8.size() / times.conproxyUs, blockUtf8.size() / times.floorUs,
            blockUtf8.size() / times.plainUs);
    }
    const double ratio = bench::Median(floorRatios);
    bench::PrintRow("4 ConWriteText 8 KiB to pty, " + placement.name,
                    bench::Fixed(bench::Median(conproxy), 1, "us"),
                    bench::Fixed(bench::Median(floor), 1, "us floor"), ratio,
                    placement.hasGoal ? "<= 1.10" : "-", placement.hasGoal,
                    ratio <= kTextGoalRatio);
    const double megabytes = static_cast<double>(blockUtf8.size());
    bench::PrintRow("4 ConWriteText 8 KiB to pty, rate, " + placement.name,
                    bench::Fixed(megabytes / bench::Median(conproxy), 1, "MB/s"),
                    bench::Fixed(megabytes / bench::Median(plain), 1, "MB/s write()"),
                    bench::Median(plainRatios), "-", false, false);
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = bench::ParseOptions(
        argc, argv, 3, "usage: bench_conproxy BIN_DIR [--runs N] [--only nop|text]...");
    if (o.Wanted("nop")) {
        const std::vector<int> cpus = bench::AllowedCpus();
        for (const Placement& placement : Placements(cpus)) {
            NopBenchmark(o, false, placement);
            if (!placement.ownSession) {
                NopBenchmark(o, true, placement);
            }
        }
        bench::SetAffinity(0, cpus);
    }
    if (o.Wanted("text")) {
        // The placements of benchmark 3 but the own session: the server writes to a pty that
        // is not its terminal, so no session of its own is asked for.
        const std::vector<int> cpus = bench::AllowedCpus();
        for (const Placement& placement : Placements(cpus)) {
            if (!placement.ownSession) {
                TextBenchmark(o, placement);
            }
        }
        bench::SetAffinity(0, cpus);
    }
    return 0;
}
