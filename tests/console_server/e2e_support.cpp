// Pseudo-terminal with an emulated screen, output-collecting pipes and shm checks for the
// end-to-end tests. The reader threads poll with a short time-out so they end promptly.
#include "e2e_support.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "write_all.h"

namespace e2e {
namespace {

constexpr int kPollSliceMs = 20;

}  // namespace

std::string ServerPath() {
    const char* fromEnv = std::getenv("CONPROXY_UNDER_TEST");
    return fromEnv != nullptr ? fromEnv : CONPROXY_PATH;
}

bool ShmExists(const std::string& name) {
    int fd = shm_open(("/" + name).c_str(), O_RDONLY, 0);
    if (fd >= 0) {
        close(fd);
        return true;
    }
    return errno != ENOENT;
}

ShmNamesGuard::~ShmNamesGuard() {
    for (const std::string& name : names_) {
        if (!name.empty())
            shm_unlink(("/" + name).c_str());
    }
}

bool WaitUntil(const std::function<bool()>& pred, int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= end)
            return pred();
        usleep(kPollSliceMs * 1000 / 2);
    }
    return true;
}

Fd& Fd::operator=(Fd&& o) noexcept {
    if (this != &o) {
        Reset();
        fd_ = o.fd_;
        o.fd_ = -1;
    }
    return *this;
}

void Fd::Reset() {
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

OutputPipe::OutputPipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return;
    read_ = Fd(fds[0]);
    write_ = Fd(fds[1]);
    reader_ = std::thread([this] {
        char buf[4096];
        for (;;) {
            pollfd p{read_.Get(), POLLIN, 0};
            int r = poll(&p, 1, kPollSliceMs);
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0) {
                if (eof_)
                    return;  // asked to stop
                continue;
            }
            ssize_t n = read(read_.Get(), buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                eof_ = true;
                return;
            }
            std::lock_guard<std::mutex> lock(mutex_);
            text_.append(buf, static_cast<size_t>(n));
        }
    });
}

OutputPipe::~OutputPipe() {
    eof_ = true;
    write_.Reset();
    if (reader_.joinable())
        reader_.join();
}

std::string OutputPipe::Text() {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
}

std::string OutputPipe::TextAtEnd(int timeoutMs) {
    write_.Reset();
    WaitUntil([this] { return eof_.load(); }, timeoutMs);
    return Text();
}

EmulatedTerminal::EmulatedTerminal()
    // Answers the terminal gives (cursor position reports and the like) go back as input.
    : screen_(kScreenRows, kScreenCols, [this](const char* bytes, size_t length) {
          test_support::WriteAll(master_.Get(), bytes, length);
      }) {
    master_ = Fd(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (master_.Get() < 0 || grantpt(master_.Get()) != 0 || unlockpt(master_.Get()) != 0)
        return;
    char name[128];
    if (ptsname_r(master_.Get(), name, sizeof name) != 0)
        return;
    slavePath_ = name;
    Resize(kScreenRows, kScreenCols);
    slave_ = Fd(open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    reader_ = std::thread([this] { ReadLoop(); });
}

EmulatedTerminal::~EmulatedTerminal() {
    stop_ = true;
    if (reader_.joinable())
        reader_.join();
}

void EmulatedTerminal::ReadLoop() {
    char buf[4096];
    while (!stop_) {
        pollfd p{master_.Get(), POLLIN, 0};
        int r = poll(&p, 1, kPollSliceMs);
        if (r <= 0)
            continue;
        ssize_t n = read(master_.Get(), buf, sizeof buf);
        if (n <= 0) {
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            usleep(kPollSliceMs * 1000);  // EIO while no slave is open: keep polling
            continue;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        received_ += static_cast<size_t>(n);
        screen_.Feed(buf, static_cast<size_t>(n));
    }
}

void EmulatedTerminal::Type(const std::string& bytes) {
    test_support::WriteAll(master_.Get(), bytes);
}

void EmulatedTerminal::Resize(int rows, int cols) {
    winsize ws{};
    ws.ws_row = static_cast<unsigned short>(rows);
    ws.ws_col = static_cast<unsigned short>(cols);
    ioctl(master_.Get(), TIOCSWINSZ, &ws);
    std::lock_guard<std::mutex> lock(mutex_);
    screen_.Resize(rows, cols);
}

std::string EmulatedTerminal::Row(int row) {
    std::lock_guard<std::mutex> lock(mutex_);
    return screen_.Row(row);
}

std::string EmulatedTerminal::ScreenText() {
    std::lock_guard<std::mutex> lock(mutex_);
    return screen_.Text();
}

void EmulatedTerminal::Cursor(int* row, int* col) {
    std::lock_guard<std::mutex> lock(mutex_);
    screen_.Cursor(row, col);
}

size_t EmulatedTerminal::BytesReceived() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

bool SameTermios(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

}  // namespace e2e
