// Pseudo-terminal with a libvterm screen, output-collecting pipes and shm checks for the
// end-to-end tests. The reader threads poll with a short time-out so they end promptly.
#include "e2e_support.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vterm.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "write_all.h"

namespace e2e {
namespace {

constexpr int kPollSliceMs = 20;

void AppendUtf8(uint32_t c, std::string* out) {
    if (c < 0x80) {
        *out += static_cast<char>(c);
    } else if (c < 0x800) {
        *out += static_cast<char>(0xC0 | (c >> 6));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out += static_cast<char>(0xE0 | (c >> 12));
        *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | (c >> 18));
        *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

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

EmulatedTerminal::EmulatedTerminal() {
    master_ = Fd(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (master_.Get() < 0 || grantpt(master_.Get()) != 0 || unlockpt(master_.Get()) != 0)
        return;
    char name[128];
    if (ptsname_r(master_.Get(), name, sizeof name) != 0)
        return;
    slavePath_ = name;
    Resize(kScreenRows, kScreenCols);
    slave_ = Fd(open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));

    vt_ = vterm_new(kScreenRows, kScreenCols);
    vterm_set_utf8(vt_, 1);
    vterm_output_set_callback(vt_, &EmulatedTerminal::Output, this);
    screen_ = vterm_obtain_screen(vt_);
    vterm_screen_reset(screen_, 1);
    reader_ = std::thread([this] { ReadLoop(); });
}

EmulatedTerminal::~EmulatedTerminal() {
    stop_ = true;
    if (reader_.joinable())
        reader_.join();
    if (vt_ != nullptr)
        vterm_free(vt_);
}

void EmulatedTerminal::Output(const char* bytes, size_t len, void* user) {
    // Answers the terminal gives (cursor position reports and the like) go back as input.
    auto* self = static_cast<EmulatedTerminal*>(user);
    test_support::WriteAll(self->master_.Get(), bytes, len);
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
        vterm_input_write(vt_, buf, static_cast<size_t>(n));
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
    if (vt_ != nullptr) {
        std::lock_guard<std::mutex> lock(mutex_);
        vterm_set_size(vt_, rows, cols);
    }
}

std::string EmulatedTerminal::Row(int row) {
    std::lock_guard<std::mutex> lock(mutex_);
    int rows = 0, cols = 0;
    vterm_get_size(vt_, &rows, &cols);
    std::string text;
    for (int col = 0; col < cols; ++col) {
        VTermScreenCell cell{};
        VTermPos pos{row, col};
        vterm_screen_get_cell(screen_, pos, &cell);
        if (cell.width == 0 || cell.chars[0] == 0) {
            if (cell.width != 0)
                text += ' ';
            continue;
        }
        for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && cell.chars[i] != 0; ++i) {
            AppendUtf8(cell.chars[i], &text);
        }
    }
    size_t end = text.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

std::string EmulatedTerminal::ScreenText() {
    std::string all;
    int rows = 0, cols = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        vterm_get_size(vt_, &rows, &cols);
    }
    for (int r = 0; r < rows; ++r) all += Row(r) + (r + 1 < rows ? "\n" : "");
    return all;
}

void EmulatedTerminal::Cursor(int* row, int* col) {
    std::lock_guard<std::mutex> lock(mutex_);
    VTermPos pos{};
    vterm_state_get_cursorpos(vterm_obtain_state(vt_), &pos);
    *row = pos.row;
    *col = pos.col;
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
