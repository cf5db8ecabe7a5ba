// The console layer on POSIX. The key wait before error exits, on a real pseudo-terminal as the
// controlling terminal of a child in its own session: Ctrl+C ends it as a key (the child lives on),
// a key typed ahead ends it at once, and the terminal's mode is back as it was afterwards. Without
// a terminal it does not wait at all. The current directory, when it cannot be shown, is an empty
// text.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "console.h"

namespace {

using namespace portboot;

using Clock = std::chrono::steady_clock;

constexpr int kChildLimitMs = 5000;
constexpr int kModeRestored = 0;
constexpr int kModeChanged = 1;
constexpr int kNoTerminal = 2;

// The child: takes the line as its controlling terminal, waits for a key, and reports whether
// the terminal's mode came back unchanged.
[[noreturn]] void WaitInChild(const std::string& line) {
    setsid();
    const int fd = open(line.c_str(), O_RDWR);  // the first tty a session leader opens is its own
    struct termios before;
    if (fd < 0 || tcgetattr(fd, &before) != 0) {
        _exit(kNoTerminal);
    }
    WaitForKey();
    struct termios after;
    tcgetattr(fd, &after);
    const bool same = before.c_lflag == after.c_lflag && before.c_iflag == after.c_iflag &&
                      before.c_cc[VMIN] == after.c_cc[VMIN];
    _exit(same ? kModeRestored : kModeChanged);
}

// Waits for the child within the limit; -1 when it had to be killed, else its wait status.
int Reap(pid_t pid) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kChildLimitMs);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status;
}

// True once the far side of the line has left canonical mode, i.e. the wait has begun.
bool WaitingForKey(int master) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kChildLimitMs);
    while (Clock::now() < deadline) {
        struct termios tio;
        if (tcgetattr(master, &tio) == 0 && (tio.c_lflag & ICANON) == 0) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

class KeyWaitTest : public testing::Test {
  protected:
    void SetUp() override {
        int slave = -1;
        ASSERT_EQ(openpty(&master_, &slave, nullptr, nullptr, nullptr), 0);
        line_ = ttyname(slave);
        close(slave);
    }
    void TearDown() override { close(master_); }

    int master_ = -1;
    std::string line_;
};

TEST_F(KeyWaitTest, CtrlCIsAKeyAndTheModeIsRestored) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        WaitInChild(line_);
    }
    ASSERT_TRUE(WaitingForKey(master_));
    ASSERT_EQ(write(master_, "\x03", 1), 1);
    const int status = Reap(pid);
    ASSERT_TRUE(WIFEXITED(status)) << "killed or stopped: " << status;
    EXPECT_EQ(WEXITSTATUS(status), kModeRestored);
}

TEST_F(KeyWaitTest, KeyTypedAheadEndsTheWaitAtOnce) {
    ASSERT_EQ(write(master_, "k", 1), 1);
    const auto start = Clock::now();
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        WaitInChild(line_);
    }
    const int status = Reap(pid);
    ASSERT_TRUE(WIFEXITED(status)) << "killed or stopped: " << status;
    EXPECT_EQ(WEXITSTATUS(status), kModeRestored);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 2.0);
}

TEST(KeyWaitWithoutTerminalTest, ReturnsAtOnce) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setsid();  // a new session has no controlling terminal
        WaitForKey();
        _exit(0);
    }
    const auto start = Clock::now();
    const int status = Reap(pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 1.0);
}

// In a child, so the test process keeps its directory: a directory too long for the buffer and
// one that no longer exists both give an empty text, never a cut or stale one.
TEST(CurrentDirTest, UnreadableOrTooLongIsEmpty) {
    char pattern[] = "/tmp/loader_cwd_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string base = pattern;
    const std::string deep = base + "/" + std::string(200, 'd');
    const std::string deeper = deep + "/" + std::string(100, 'e');
    ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(deeper.c_str(), 0700), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        char dir[256] = "stale";
        if (chdir(deep.c_str()) != 0) {
            _exit(10);
        }
        GetCurrentDir(dir, sizeof dir);
        if (std::strcmp(dir, deep.c_str()) != 0) {
            _exit(11);  // a directory that fits is shown whole
        }
        if (chdir(deeper.c_str()) != 0) {
            _exit(10);
        }
        std::strcpy(dir, "stale");
        GetCurrentDir(dir, sizeof dir);
        if (dir[0] != '\0') {
            _exit(12);
        }
        if (chdir(deep.c_str()) != 0 || rmdir(deeper.c_str()) != 0 || rmdir(deep.c_str()) != 0) {
            _exit(10);
        }
        std::strcpy(dir, "stale");
        GetCurrentDir(dir, sizeof dir);
        _exit(dir[0] == '\0' ? 0 : 13);
    }
    const int status = Reap(pid);
    rmdir(deeper.c_str());
    rmdir(deep.c_str());
    rmdir(base.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10 set-up, 11 fitting, 12 too long, 13 removed";
}

}  // namespace
