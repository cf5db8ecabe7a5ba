// The console layer on POSIX. The key wait before error exits, on a real pseudo-terminal as the
// controlling terminal of a child in its own session: Ctrl+C ends it as a key (the child lives on),
// a key typed ahead ends it at once and is the only input taken, the terminal's mode is back as
// it was afterwards, and a loader in the background does not wait. The children are forked by
// the tests' launcher, which gives them the session, the terminal and the time limit. Without
// a terminal it does not wait at all. The current directory, when it cannot be shown, is an empty
// text.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "child_process.h"
#include "console.h"

namespace {

using namespace portboot;

using Clock = std::chrono::steady_clock;
using test_support::Child;
using test_support::Describe;
using test_support::ExitInfo;
using test_support::SpawnOptions;

constexpr int kChildLimitMs = 5000;
constexpr std::chrono::milliseconds kChildLimit{kChildLimitMs};
constexpr int kModeRestored = 0;
constexpr int kModeChanged = 1;
constexpr int kNoTerminal = 2;

// A forked child in its own session; with a line, that line is its controlling terminal.
SpawnOptions ChildOptions(const std::string& line = "") {
    SpawnOptions options;
    options.ttyPath = line;
    options.timeLimit = kChildLimit;
    return options;
}

// The child: waits for a key on its terminal and reports whether the terminal's mode came back
// unchanged.
int WaitInChild(const std::string& line) {
    const int fd = open(line.c_str(), O_RDWR);
    struct termios before;
    if (fd < 0 || tcgetattr(fd, &before) != 0) {
        return kNoTerminal;
    }
    WaitForKey("");
    struct termios after;
    tcgetattr(fd, &after);
    const bool same = before.c_lflag == after.c_lflag && before.c_iflag == after.c_iflag &&
                      before.c_cc[VMIN] == after.c_cc[VMIN];
    return same ? kModeRestored : kModeChanged;
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
    Child child(ChildOptions(line_), [this] { return WaitInChild(line_); });
    ASSERT_TRUE(WaitingForKey(master_));
    ASSERT_EQ(write(master_, "\x03", 1), 1);
    const ExitInfo& exit = child.Wait();
    ASSERT_TRUE(exit.exited) << Describe(exit);
    EXPECT_EQ(exit.exitStatus, kModeRestored);
}

TEST_F(KeyWaitTest, KeyTypedAheadEndsTheWaitAtOnce) {
    ASSERT_EQ(write(master_, "k", 1), 1);
    const auto start = Clock::now();
    Child child(ChildOptions(line_), [this] { return WaitInChild(line_); });
    const ExitInfo& exit = child.Wait();
    ASSERT_TRUE(exit.exited) << Describe(exit);
    EXPECT_EQ(exit.exitStatus, kModeRestored);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 2.0);
}

// The child: waits for a key typed ahead on its terminal, and ends with 0 when exactly `rest`
// is still there to read afterwards.
int WaitThenReadRest(const std::string& line, const std::string& rest) {
    const int fd = open(line.c_str(), O_RDWR);
    if (fd < 0) {
        return kNoTerminal;
    }
    WaitForKey("");
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
    return left == rest ? 0 : 1;
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
        Child child(ChildOptions(line), [&] { return WaitThenReadRest(line, c.rest); });
        const ExitInfo& exit = child.Wait();
        close(master);
        ASSERT_TRUE(exit.exited) << Describe(exit);
        EXPECT_EQ(exit.exitStatus, 0) << "1: another rest was left";
    }
}

// Started in the background of its terminal (as by "portboot ... &"), the loader has no one to
// press a key: it neither waits nor is stopped for touching the terminal.
TEST_F(KeyWaitTest, InTheBackgroundNeitherWaitsNorStops) {
    const auto start = Clock::now();
    // The session's leading group owns the terminal; the loader runs in a group of its own.
    Child child(ChildOptions(line_), [] {
        // In the session of its terminal, so the terminal is its own, but in a group of its own,
        // which the terminal does not serve. A loader stopped by the terminal runs out of time.
        SpawnOptions background;
        background.ownSession = false;
        background.timeLimit = kChildLimit;
        Child loader(background, [] {
            setpgid(0, 0);
            WaitForKey("");
            return 0;
        });
        const ExitInfo& exit = loader.Wait();
        if (exit.timedOut) {
            return 3;
        }
        return exit.exited && exit.exitStatus == 0 ? 0 : 4;
    });
    const ExitInfo& exit = child.Wait();
    ASSERT_TRUE(exit.exited) << "still waiting: " << Describe(exit);
    EXPECT_EQ(exit.exitStatus, 0) << "3: stopped by the terminal until killed, 4: failed";
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 2.0);
}

TEST(KeyWaitWithoutTerminalTest, ReturnsAtOnce) {
    const auto start = Clock::now();
    // A new session has no controlling terminal.
    Child child(ChildOptions(), [] {
        WaitForKey("");
        return 0;
    });
    const ExitInfo& exit = child.Wait();
    ASSERT_TRUE(exit.exited) << Describe(exit);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 1.0);
}

// In a child, so the test process keeps its directory: a directory too long for the buffer and
// one that no longer exists both give an empty text, never a cut or stale one.
TEST(CurrentDirTest, UnreadableOrTooLongIsEmpty) {
    const test_support::TempDir base;
    const std::string deep = base.File(std::string(200, 'd'));
    const std::string deeper = deep + "/" + std::string(100, 'e');
    ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(deeper.c_str(), 0700), 0);
    Child child(ChildOptions(), [&] {
        char dir[256] = "stale";
        if (chdir(deep.c_str()) != 0) {
            return 10;
        }
        GetCurrentDir(dir, sizeof dir);
        if (std::strcmp(dir, deep.c_str()) != 0) {
            return 11;  // a directory that fits is shown whole
        }
        if (chdir(deeper.c_str()) != 0) {
            return 10;
        }
        std::strcpy(dir, "stale");
        GetCurrentDir(dir, sizeof dir);
        if (dir[0] != '\0') {
            return 12;
        }
        if (chdir(deep.c_str()) != 0 || rmdir(deeper.c_str()) != 0 || rmdir(deep.c_str()) != 0) {
            return 10;
        }
        std::strcpy(dir, "stale");
        GetCurrentDir(dir, sizeof dir);
        return dir[0] == '\0' ? 0 : 13;
    });
    const ExitInfo& exit = child.Wait();
    ASSERT_TRUE(exit.exited) << Describe(exit);
    EXPECT_EQ(exit.exitStatus, 0) << "10 set-up, 11 fitting, 12 too long, 13 removed";
}

}  // namespace
