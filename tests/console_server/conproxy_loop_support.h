// The pieces the conproxy process tests share: unique names, a shared object seen as a client
// sees it, the events' turn, a conproxy started by the tests' launcher, and a minimal client.
#pragma once

#include <fcntl.h>
#include <linux/futex.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
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

// A shared object seen the way any client sees it; created here when create is set (and then
// unlinked at the end).
class SharedObject {
  public:
    SharedObject(const std::string& name, size_t size, bool create) : name_(name), size_(size) {
        const int flags = O_RDWR | (create ? O_CREAT | O_EXCL : 0);
        const int fd = shm_open(("/" + name).c_str(), flags, 0600);
        if (fd < 0 || (create && ftruncate(fd, static_cast<off_t>(size)) != 0)) {
            ADD_FAILURE() << "cannot open " << name << ": " << std::strerror(errno);
            return;
        }
        owned_ = create;
        void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        close(fd);
        data_ = data == MAP_FAILED ? nullptr : static_cast<unsigned char*>(data);
    }
    ~SharedObject() {
        if (data_ != nullptr) {
            munmap(data_, size_);
        }
        if (owned_) {
            shm_unlink(("/" + name_).c_str());
        }
    }
    unsigned char* Data() const { return data_; }
    std::atomic<uint32_t>& Word() const { return *reinterpret_cast<std::atomic<uint32_t>*>(data_); }

  private:
    std::string name_;
    size_t size_;
    bool owned_ = false;
    unsigned char* data_ = nullptr;
};

// Set as the protocol does it: the word to 1, then wake every waiter of any process.
inline void SetEvent(const SharedObject& event) {
    event.Word().store(1);
    syscall(SYS_futex, event.Data(), FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
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

inline bool WaitSet(const SharedObject& event, int timeoutMs = kStepTimeoutMs) {
    const Deadline deadline(timeoutMs);
    while (event.Word().load() == 0) {
        if (deadline.Expired()) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollStepMs));
    }
    return true;
}

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

// A client made of the three objects, created before the server starts.
struct Client {
    std::string suffix = UniqueName("m");
    std::string requestName = UniqueName("req");
    std::string replyName = UniqueName("rep");
    SharedObject region{"Mapping" + suffix, kRequestRegionBytes, true};
    SharedObject request{requestName, 4, true};
    SharedObject reply{replyName, 4, true};

    std::vector<std::string> Args() const { return {suffix, requestName, replyName}; }

    ConsoleRequest& Record() const { return *reinterpret_cast<ConsoleRequest*>(region.Data()); }

    // One turn: reset reply, write the request, set request, wait for the reply.
    bool Call(int32_t command, int32_t dataOffset = 0, uint32_t count = 0,
              int timeoutMs = kStepTimeoutMs) {
        reply.Word().store(0);
        Record() = ConsoleRequest{command, 99, dataOffset, count, 0xEEEEEEEE};
        SetEvent(request);
        return WaitSet(reply, timeoutMs);
    }
};

}  // namespace conproxy_loop
