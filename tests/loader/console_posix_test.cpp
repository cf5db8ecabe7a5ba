// The console layer on POSIX. The key wait before error exits, on a real pseudo-terminal as the
// controlling terminal of a child in its own session: Ctrl+C ends it as a key (the child lives on),
// a key typed ahead ends it at once and is the only input taken, the terminal's mode is back as
// it was afterwards, and a loader in the background does not wait. Without
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

// The child: takes the line as its controlling terminal, waits for a key typed ahead, and exits
// 0 when exactly `rest` is still there to read afterwards.
[[noreturn]] void WaitThenReadRest(const std::string& line, const std::string& rest) {
    setsid();
    const int fd = open(line.c_str(), O_RDWR);
    if (fd < 0) {
        _exit(kNoTerminal);
    }
    WaitForKey();
    struct termios tio;
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 2;  // tenths of a second
    tcsetattr(fd, TCSANOW, &tio);
    std::string left;
    char buffer[64];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) {
        left.append(buffer, static_cast<std::size_t>(got));
    }
    _exit(left == rest ? 0 : 1);
}

// One key is taken, however many bytes it has; what was typed after it is left to the shell.
TEST_F(KeyWaitTest, TakesOneKeyAndLeavesTheRest) {
    struct Case {
        const char* name;
        std::string typed;
        std::string rest;
    };
    const Case cases[] = {
        {"letter", "kxy", "xy"},
        {"cursor key (CSI)", "\x1b[Axy", "xy"},
        {"Ctrl+Right with parameters", "\x1b[1;5Cq", "q"},
        {"F1 (SS3)", "\x1bOPz", "z"},
        {"Alt+b",
         "\x1b"
         "bz",
         "z"},
        {"Cyrillic letter in UTF-8", "\xd0\xb6z", "z"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int master = -1;
        int slave = -1;
        ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        const std::string line = ttyname(slave);
        // Raw, so the typed bytes wait as they are and are not echoed into the rest.
        struct termios tio;
        tcgetattr(slave, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
        close(slave);
        ASSERT_EQ(write(master, c.typed.data(), c.typed.size()),
                  static_cast<ssize_t>(c.typed.size()));
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            WaitThenReadRest(line, c.rest);
        }
        const int status = Reap(pid);
        close(master);
        ASSERT_TRUE(WIFEXITED(status)) << "killed or stopped: " << status;
        EXPECT_EQ(WEXITSTATUS(status), 0) << "1: another rest was left";
    }
}

// Started in the background of its terminal (as by "portboot ... &"), the loader has no one to
// press a key: it neither waits nor is stopped for touching the terminal.
TEST_F(KeyWaitTest, InTheBackgroundNeitherWaitsNorStops) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setsid();
        const int fd = open(line_.c_str(), O_RDWR);  // the session's terminal; its group leads
        if (fd < 0) {
            _exit(kNoTerminal);
        }
        const pid_t background = fork();
        if (background == 0) {
            setpgid(0, 0);
            WaitForKey();
            _exit(0);
        }
        int status = 0;
        waitpid(background, &status, WUNTRACED);
        if (WIFSTOPPED(status)) {
            kill(background, SIGKILL);
            waitpid(background, &status, 0);
            _exit(3);
        }
        _exit(WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 4);
    }
    const auto start = Clock::now();
    const int status = Reap(pid);
    ASSERT_TRUE(WIFEXITED(status)) << "still waiting: " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "3: stopped by the terminal, 4: failed";
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
