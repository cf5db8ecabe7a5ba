// devsim: the target device's receiving program, simulated on a pseudo-terminal.
// One loop reads the master side, feeds the protocol state machine, answers each command with a
// status byte (or not, or late), and ends on an idle line, a time limit or a signal.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "device_protocol.h"
#include "options.h"
#include "pty_line.h"

namespace devsim {
namespace {

// Exit statuses; tools/devsim/README.md explains them to people who script devsim.
constexpr int kExitComplete = 0;
constexpr int kExitOwnError = 1;
constexpr int kExitIncomplete = 2;
constexpr int kExitUnexpected = 3;
constexpr int kExitClosed = 4;

// After the entry point, how long to keep listening for bytes a host should not send.
constexpr int kTrailingListenMs = 200;
// Longest single poll(), so a signal that lands just before poll() is seen soon.
constexpr int kPollSliceMs = 100;
// With no host on the slave the master reports a hang-up at once; this is how often it is
// looked at again, which is also the most a host's first byte waits to be seen.
constexpr int kNoHostPollMs = 2;
// A byte on the line takes a start bit, 8 data bits and a stop bit.
constexpr double kBitsPerByte = 10.0;

volatile std::sig_atomic_t gStopRequested = 0;

void OnStopSignal(int) {
    gStopRequested = 1;
}

void InstallSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        sigaction(signalNumber, &action, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);
}

bool WriteFile(const std::string& path, const void* data, std::size_t size) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    file.close();
    return !file.fail();
}

// A symlink is replaced; any other file at the path is left alone and reported.
bool MakeLink(const std::string& target, const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        if (!S_ISLNK(info.st_mode)) {
            std::fprintf(stderr, "devsim: %s exists and is not a symlink\n", path.c_str());
            return false;
        }
        ::unlink(path.c_str());
    }
    if (::symlink(target.c_str(), path.c_str()) != 0) {
        std::fprintf(stderr, "devsim: cannot link %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

// Sends one byte value non-stop for --garbage, without ever blocking: the host reads only one
// byte per command, so the line fills up, and a blocked write would stop devsim from taking the
// host's bytes.
class Babbler {
  public:
    explicit Babbler(std::optional<std::uint8_t> byte) : enabled_(byte.has_value()) {
        if (enabled_) {
            std::fill(std::begin(chunk_), std::end(chunk_), *byte);
        }
    }

    bool Enabled() const { return enabled_; }
    std::uint64_t Sent() const { return sent_; }

    // As much as the line takes now; false when the line is gone.
    bool Send(int fd) {
        for (;;) {
            ssize_t written = ::write(fd, chunk_, sizeof chunk_);
            if (written > 0) {
                sent_ += static_cast<std::uint64_t>(written);
                continue;
            }
            // EIO: no host has the line open now; one may come.
            return written < 0 && (errno == EAGAIN || errno == EINTR || errno == EIO);
        }
    }

  private:
    bool enabled_;
    std::uint8_t chunk_[1024] = {};
    std::uint64_t sent_ = 0;
};

// Reads at the pace of a line of the given speed: at most as many bytes as the line could have
// carried since the first byte, so a host's writes back up in the kernel buffer as on a UART.
class Pacer {
  public:
    explicit Pacer(std::uint32_t baud) : baud_(baud) {}

    // How many bytes may be taken now (at least 1 when unpaced or once due), and if none, how
    // long until the next is due.
    std::size_t Allowed(std::size_t bufferSize, int& waitMs) const {
        waitMs = 0;
        if (baud_ == 0 || !started_) {
            return baud_ == 0 ? bufferSize : 1;
        }
        double elapsedS = std::chrono::duration<double>(Clock::now() - start_).count();
        auto carried = static_cast<std::uint64_t>(elapsedS * baud_ / kBitsPerByte) + 1;
        if (carried > taken_) {
            return static_cast<std::size_t>(std::min<std::uint64_t>(carried - taken_, bufferSize));
        }
        double nextS = static_cast<double>(taken_) * kBitsPerByte / baud_;
        waitMs = std::max(1, static_cast<int>((nextS - elapsedS) * 1000.0 + 1.0));
        return 0;
    }

    bool Started() const { return started_; }

    void Took(std::size_t count) {
        if (!started_) {
            started_ = true;
            start_ = Clock::now();
        }
        taken_ += count;
    }

  private:
    using Clock = std::chrono::steady_clock;
    std::uint32_t baud_;
    bool started_ = false;
    Clock::time_point start_;
    std::uint64_t taken_ = 0;
};

// The device proper: takes bytes from the host, answers commands as the options say, and cuts
// the line after the number of image bytes asked for.
class Device {
  public:
    Device(const Options& options, PtyLine& line) : options_(options), line_(line) {}

    const DeviceProtocol& Protocol() const { return protocol_; }
    const std::vector<std::uint8_t>& SinkBytes() const { return sinkBytes_; }

    // Returns true when the line was closed on purpose; later bytes are then not taken.
    bool Take(const std::uint8_t* bytes, std::size_t count) {
        // The host has the line open and set up by the time its first byte comes.
        if (count > 0 && options_.unasked && !unaskedSent_) {
            WriteAll(line_.master.Get(), &*options_.unasked, 1);
            unaskedSent_ = true;
        }
        for (std::size_t i = 0; i < count; ++i) {
            if (options_.sink) {
                sinkBytes_.push_back(bytes[i]);
                continue;
            }
            std::optional<std::uint8_t> command = protocol_.Feed(bytes[i]);
            if (command) {
                Answer(*command);
            }
            if (ShouldClose()) {
                // The device's end goes, so the host's next write fails as on a line that was cut.
                line_.master.Reset();
                return true;
            }
        }
        return false;
    }

  private:
    void Answer(std::uint8_t command) {
        // A babbling device answers nothing on purpose: the host takes the babble as statuses.
        if (options_.silentOn[command] || options_.garbage) {
            protocol_.RecordAnswer(std::nullopt);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(options_.delayMs));
        std::uint8_t status = options_.statusFor[command];
        WriteAll(line_.master.Get(), &status, 1);
        protocol_.RecordAnswer(status);
    }

    bool ShouldClose() const {
        if (!options_.closeAfter) {
            return false;
        }
        Step step = protocol_.CurrentStep();
        bool imageBegun = step == Step::Image || step == Step::EndOfCode || step == Step::Final ||
                          step == Step::Entry || step == Step::Done;
        return imageBegun && protocol_.ImageBytes() >= *options_.closeAfter;
    }

    const Options& options_;
    PtyLine& line_;
    DeviceProtocol protocol_;
    std::vector<std::uint8_t> sinkBytes_;
    bool unaskedSent_ = false;
};

// Opens the line, links it where asked, puts the stale byte in and prints the path for the
// host. False after an error line.
bool SetUpLine(const Options& options, PtyLine& line) {
    std::string error;
    if (!OpenPtyLine(line, !options.cooked, error)) {
        std::fprintf(stderr, "devsim: %s\n", error.c_str());
        return false;
    }
    if (!options.linkPath.empty() && !MakeLink(line.slavePath, options.linkPath)) {
        return false;
    }
    // In the line before the path is out, so before any host can have opened it.
    if (options.stale) {
        WriteAll(line.master.Get(), &*options.stale, 1);
    }
    // What was set up and put in the line stays with the master; the slave is the host's alone.
    line.slave.Reset();
    std::printf("%s\n", line.slavePath.c_str());
    std::fflush(stdout);
    return true;
}

// What one wait on the line gave: bytes to read, nothing yet, or the end of the session.
enum class LineState { Readable, NothingYet, Gone };

// Waits up to waitMs for the host's bytes, babbling while the line takes them.
LineState WaitForLine(int fd, Babbler& babbler, int waitMs) {
    short events = babbler.Enabled() ? POLLIN | POLLOUT : POLLIN;
    pollfd watch{fd, events, 0};
    int ready = ::poll(&watch, 1, waitMs);
    if (ready < 0 && errno != EINTR) {
        std::fprintf(stderr, "devsim: poll: %s\n", std::strerror(errno));
        return LineState::Gone;
    }
    if (ready > 0 && (watch.revents & (POLLIN | POLLOUT)) == 0) {
        // Hung up: no host has the slave open, before the first or after the last.
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(kNoHostPollMs, waitMs)));
        return LineState::NothingYet;
    }
    if (ready > 0 && (watch.revents & POLLOUT) && !babbler.Send(fd)) {
        return LineState::Gone;
    }
    // Only room to write: nothing to read yet. A hang-up or error goes on to the read,
    // which ends the session.
    if (ready <= 0 || !(watch.revents & (POLLIN | POLLHUP | POLLERR))) {
        return LineState::NothingYet;
    }
    return LineState::Readable;
}

// Serves the host until the line is idle, the time limit or a signal ends the session, or the
// device closes the line; true in that last case.
bool ServeHost(const Options& options, PtyLine& line, Device& device, Babbler& babbler) {
    const DeviceProtocol& protocol = device.Protocol();
    Pacer pacer(options.paceBaud);
    // Both start with the first byte: a device waits for its host as long as it takes.
    Deadline overall = Deadline::Never();
    Deadline idle = Deadline::Never();
    Deadline trailing = Deadline::Never();
    bool listeningForTrailing = false;
    bool closedOnPurpose = false;
    std::uint8_t buffer[4096];

    while (!gStopRequested && !closedOnPurpose) {
        if (overall.Expired() || idle.Expired() || trailing.Expired()) {
            break;
        }
        int waitMs = std::min({overall.RemainingMs(kPollSliceMs), idle.RemainingMs(kPollSliceMs),
                               trailing.RemainingMs(kPollSliceMs)});
        int paceWaitMs = 0;
        std::size_t want = pacer.Allowed(sizeof buffer, paceWaitMs);
        if (want == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(paceWaitMs, waitMs)));
            continue;
        }
        LineState state = WaitForLine(line.master.Get(), babbler, waitMs);
        if (state == LineState::Gone) {
            break;
        }
        if (state == LineState::NothingYet) {
            continue;
        }
        ssize_t count = ::read(line.master.Get(), buffer, want);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (count < 0 && errno == EIO) {
            // The host closed the slave and everything it sent has been read.
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(kNoHostPollMs, waitMs)));
            continue;
        }
        if (count <= 0) {
            break;  // the line is gone
        }
        if (!pacer.Started()) {
            overall = Deadline::In(std::chrono::milliseconds(TimeLimitMs(options)));
        }
        pacer.Took(static_cast<std::size_t>(count));
        idle = Deadline::In(std::chrono::milliseconds(options.idleMs));
        closedOnPurpose = device.Take(buffer, static_cast<std::size_t>(count));
        if (protocol.Done() && !listeningForTrailing) {
            listeningForTrailing = true;
            trailing = Deadline::In(std::chrono::milliseconds(
                std::min<std::uint32_t>(options.idleMs, kTrailingListenMs)));
        }
    }
    return closedOnPurpose;
}

// After a stop signal: bytes the host wrote before it ended are still in the kernel buffer.
// Counting them lets a caller that stops devsim right after the host see everything the host
// sent. True when the device closed the line on them.
bool TakeLeftoverBytes(PtyLine& line, Device& device) {
    std::uint8_t buffer[4096];
    pollfd watch{line.master.Get(), POLLIN, 0};
    ssize_t count = 0;
    bool closedOnPurpose = false;
    while (!closedOnPurpose && ::poll(&watch, 1, 0) > 0 && (watch.revents & POLLIN) &&
           (count = ::read(line.master.Get(), buffer, sizeof buffer)) > 0) {
        closedOnPurpose = device.Take(buffer, static_cast<std::size_t>(count));
    }
    return closedOnPurpose;
}

// The summary line and the exit status of a finished session.
std::string Summarize(const Options& options, const Device& device, const Babbler& babbler,
                      bool closedOnPurpose, int& status) {
    if (options.sink) {
        status = kExitComplete;
        return "result=sink received=" + std::to_string(device.SinkBytes().size());
    }
    const DeviceProtocol& protocol = device.Protocol();
    status = kExitIncomplete;
    const char* result = "incomplete";
    if (closedOnPurpose) {
        status = kExitClosed;
        result = "closed";
    } else if (protocol.Unexpected()) {
        status = kExitUnexpected;
        result = "unexpected";
    } else if (protocol.Done()) {
        status = kExitComplete;
        result = "complete";
    }
    std::string summary = protocol.Summary(result);
    if (babbler.Enabled()) {
        summary += " garbage=" + std::to_string(babbler.Sent());
    }
    return summary;
}

// The --summary and --out files; false (after an error line) when either cannot be written.
bool WriteResultFiles(const Options& options, const Device& device, const std::string& summary) {
    bool written = true;
    if (!options.summaryPath.empty()) {
        std::string text = summary + "\n";
        written = WriteFile(options.summaryPath, text.data(), text.size());
    }
    if (!options.outPath.empty()) {
        std::vector<std::uint8_t> image =
            options.sink ? device.SinkBytes() : device.Protocol().ImageWithoutPad();
        written = WriteFile(options.outPath, image.data(), image.size()) && written;
    }
    if (!written) {
        std::fprintf(stderr, "devsim: cannot write the summary or the image file\n");
    }
    return written;
}

int Run(const Options& options) {
    PtyLine line;
    if (!SetUpLine(options, line)) {
        return kExitOwnError;
    }
    InstallSignalHandlers();
    Babbler babbler(options.garbage);
    if (babbler.Enabled()) {
        ::fcntl(line.master.Get(), F_SETFL, ::fcntl(line.master.Get(), F_GETFL) | O_NONBLOCK);
    }
    Device device(options, line);
    bool closedOnPurpose = ServeHost(options, line, device, babbler);
    if (gStopRequested && !closedOnPurpose) {
        closedOnPurpose = TakeLeftoverBytes(line, device);
    }
    if (!options.linkPath.empty()) {
        ::unlink(options.linkPath.c_str());
    }
    int status = kExitIncomplete;
    const std::string summary = Summarize(options, device, babbler, closedOnPurpose, status);
    std::printf("%s\n", summary.c_str());
    std::fflush(stdout);
    return WriteResultFiles(options, device, summary) ? status : kExitOwnError;
}

}  // namespace
}  // namespace devsim

int main(int argc, char** argv) {
    devsim::Options options;
    std::string message;
    switch (devsim::ParseOptions(argc, argv, options, message)) {
        case devsim::ParseResult::Help:
            std::fputs(devsim::kUsageText, stdout);
            return 0;
        case devsim::ParseResult::Version:
            std::printf("devsim %s\n", PROGRAM_VERSION);
            return 0;
        case devsim::ParseResult::Error:
            std::fprintf(stderr, "devsim: %s\n%s", message.c_str(), devsim::kUsageText);
            return 1;
        case devsim::ParseResult::Run:
            break;
    }
    return devsim::Run(options);
}
