// The pieces the conproxy process tests share: unique names and a look at whether one exists,
// a conproxy started by the tests' launcher, and the client library as its client.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "conproxy_client.h"
#include "conproxy_client_testing.h"
#include "console_records.h"
#include "deadline.h"

namespace conproxy_loop {

using namespace conproxy;

constexpr int kStepTimeoutMs = 5000;
constexpr int kPollStepMs = 1;
constexpr std::chrono::milliseconds kServerLimit{30000};

inline std::string UniqueName(const char* what) {
    static int counter = 0;
    return std::string("conproxy_loop_") + what + "_" + std::to_string(getpid()) + "_" +
           std::to_string(++counter);
}

inline bool NameExists(const std::string& name) {
    const int fd = shm_open(("/" + name).c_str(), O_RDONLY, 0);
    if (fd >= 0) {
        close(fd);
    }
    return fd >= 0;
}

// Waits until the object exists and holds at least bytes: a server creates it empty and sizes it
// a moment later, and a word mapped before that would be SIGBUS to touch.
inline bool WaitForObject(const std::string& name, size_t bytes) {
    const Deadline deadline(kStepTimeoutMs);
    for (;;) {
        struct stat st {};
        const int fd = shm_open(("/" + name).c_str(), O_RDONLY, 0);
        const bool sized =
            fd >= 0 && fstat(fd, &st) == 0 && static_cast<size_t>(st.st_size) >= bytes;
        if (fd >= 0) {
            close(fd);
        }
        if (sized || deadline.Expired()) {
            return sized;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollStepMs));
    }
}

// Removes the names when the test ends, whatever became of the server.
struct NamesRemover {
    std::vector<std::string> names;
    ~NamesRemover() {
        for (const std::string& name : names) {
            shm_unlink(("/" + name).c_str());
        }
    }
};

// One conproxy process started by the tests' launcher: its own session, output captured, killed
// if still running at the end.
class Server {
  public:
    // With terminal set, standard input and output are a pseudo-terminal of 80 x 25 whose
    // master side is Terminal(); otherwise stdin is /dev/null and stdout is captured.
    // adjust, when given, changes the options last (a wrapper around the server, other
    // standard descriptors).
    Server(const std::vector<std::string>& args, bool terminal,
           const std::function<void(test_support::SpawnOptions&)>& adjust = nullptr) {
        test_support::SpawnOptions options;
        const char* underTest = std::getenv("CONPROXY_UNDER_TEST");
        options.argv = {underTest != nullptr ? underTest : CONPROXY_PATH};
        options.argv.insert(options.argv.end(), args.begin(), args.end());
        options.controllingPty = terminal;
        options.ptyRows = 25;
        options.ptyCols = 80;
        options.stdinFromPty = terminal;
        options.stdoutToPty = terminal;
        options.timeLimit = kServerLimit;
        if (adjust) {
            adjust(options);
        }
        try {
            child_ = std::make_unique<test_support::Child>(options);
        } catch (const std::exception& error) {
            ADD_FAILURE() << error.what();
        }
    }

    // How it ended; a server that has not ended in time is killed (and shows as timed out).
    test_support::ExitInfo Wait(int timeoutMs = kStepTimeoutMs) {
        if (child_ == nullptr) {
            return {};
        }
        if (!child_->WaitFor(std::chrono::milliseconds(timeoutMs))) {
            child_->Signal(SIGKILL);
            test_support::ExitInfo killed = child_->Wait();
            killed.timedOut = true;
            return killed;
        }
        return child_->Wait();
    }
    int ExitCode(int timeoutMs = kStepTimeoutMs) {
        const test_support::ExitInfo info = Wait(timeoutMs);
        return info.exited ? info.exitStatus : -1;
    }
    void Signal(int signalNumber) {
        if (child_ != nullptr) {
            child_->Signal(signalNumber);
        }
    }

    // Reads from fd until the text contains expected or the time is up; returns all read.
    static std::string ReadUntil(int fd, const std::string& expected,
                                 int timeoutMs = kStepTimeoutMs) {
        std::string text;
        const Deadline deadline(timeoutMs);
        while (text.find(expected) == std::string::npos && !deadline.Expired()) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, deadline.RemainingMs()) <= 0) {
                break;
            }
            char bytes[512];
            const ssize_t got = read(fd, bytes, sizeof bytes);
            if (got <= 0) {
                break;
            }
            text.append(bytes, static_cast<size_t>(got));
        }
        return text;
    }
    // What the server wrote since the last call, once it holds expected (or the server ended,
    // or the time is up).
    std::string Output(const std::string& expected) {
        return Captured([this] { return child_->Stdout(); }, &outTaken_, expected);
    }
    std::string Errors() {
        return Captured([this] { return child_->Stderr(); }, &errTaken_, "\n");
    }
    int Terminal() const { return child_ != nullptr ? child_->PtyMaster() : -1; }
    pid_t Pid() const { return child_ != nullptr ? child_->Pid() : -1; }

  private:
    std::string Captured(const std::function<std::string()>& read, size_t* taken,
                         const std::string& expected) {
        if (child_ == nullptr) {
            return {};
        }
        const Deadline deadline(kStepTimeoutMs);
        std::string text = read().substr(*taken);
        while (text.find(expected) == std::string::npos && child_->Running() &&
               !deadline.Expired()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollStepMs));
            text = read().substr(*taken);
        }
        *taken += text.size();
        return text;
    }

    std::unique_ptr<test_support::Child> child_;
    size_t outTaken_ = 0;
    size_t errTaken_ = 0;
};

// Names for a client to make, new to this test.
inline conclient::ClientNames NewNames(const std::string& suffix = UniqueName("m")) {
    return {suffix, UniqueName("req"), UniqueName("rep")};
}

// The client library's own client, through its testing access, on three objects it makes
// before the server starts (or opens, when the server made them first). The server is started
// by the tests' launcher: the turn is the library's, and only the bytes of the record are the
// test's.
class Client {
  public:
    // names: a server's names to open; by default new ones, made here.
    explicit Client(conclient::ClientNames names = NewNames()) {
        std::string error;
        if (!client_.Open(names, &error)) {
            ADD_FAILURE() << error;
        }
        client_.SetReplyTimeout(kStepTimeoutMs);
    }
    const conclient::ClientNames& Names() const { return client_.Names(); }
    std::vector<std::string> Args() const {
        return {Names().suffix, Names().requestEvent, Names().replyEvent};
    }
    unsigned char* Region() { return client_.Region(); }
    ConsoleRequest& Record() { return *reinterpret_cast<ConsoleRequest*>(Region()); }

    // The server's ready signal, or the reply to a request sent by Send.
    bool Replied(int timeoutMs = kStepTimeoutMs) {
        const Deadline deadline(timeoutMs);
        while (!conclient::ClientTestAccess::ReplyEventIsSet(client_)) {
            if (deadline.Expired()) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollStepMs));
        }
        return true;
    }
    bool Ready() { return client_.WaitReady(kStepTimeoutMs) == conclient::WaitResult::kReplied; }
    // One turn; status and result go with values a reply that leaves them alone shows.
    bool Call(int32_t command, int32_t dataOffset = 0, uint32_t count = 0) {
        conclient::ConsoleRequest request{command, 99, dataOffset, count, 0xEEEEEEEE};
        return client_.Transact(&request) == conclient::WaitResult::kReplied;
    }
    // The request announced without waiting for its reply (Replied), for a test that plays
    // the terminal meanwhile, or a request standing before the server starts. resetReply false
    // leaves the reply event untouched (a test that cut it).
    void Send(const ConsoleRequest& request, bool resetReply = true) {
        if (resetReply) {
            conclient::ClientTestAccess::ResetReplyEvent(client_);
        }
        Record() = request;
        conclient::ClientTestAccess::SetRequestEvent(client_);
    }

  private:
    conclient::ConproxyClient client_;
};

}  // namespace conproxy_loop
