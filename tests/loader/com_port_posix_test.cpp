// The POSIX serial layer against real pseudo-terminals: line settings, speeds without a
// B-constant, discarding stale input, the status wait counted from the line clock, the stall
// limit of writes, exclusive use, and the clock and deadline helpers they rest on.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "child_process.h"
#include "com_port.h"
#include "deadline.h"
#include "line_clock.h"
#include "line_speed_linux.h"
#include "port_notes.h"
#include "port_posix.h"

namespace {

using namespace portboot;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::uint32_t kShortWaitMs = 300;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class ComPortPtyTest : public testing::Test {
  protected:
    void SetUp() override {
        int slave = -1;
        ASSERT_EQ(openpty(&master_, &slave, nullptr, nullptr, nullptr), 0);
        slavePath_ = ttyname(slave);
        close(slave);
    }
    void TearDown() override {
        port_.Close();
        if (master_ >= 0) {
            close(master_);
        }
    }

    void Open(std::uint32_t baud = 57600) {
        ASSERT_TRUE(port_.Open(PortPath(slavePath_), baud)) << errno;
    }

    int master_ = -1;
    std::string slavePath_;
    ComPort port_;
};

TEST_F(ComPortPtyTest, OpenGivesRaw8N1WithoutFlowControl) {
    Open();
    struct termios tio;
    ASSERT_EQ(tcgetattr(static_cast<int>(port_.Handle()), &tio), 0);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
}

TEST_F(ComPortPtyTest, EverySpeedIsSetExactly) {
    for (std::uint32_t baud : {9600u, 57600u, 100000u, 250000u, 921600u}) {
        SCOPED_TRACE(baud);
        ComPort port;
        ASSERT_TRUE(port.Open(PortPath(slavePath_), baud)) << errno;
        std::uint32_t got = 0;
        ASSERT_TRUE(GetLineSpeed(static_cast<int>(port.Handle()), got));
        EXPECT_EQ(got, baud);
    }
}

TEST_F(ComPortPtyTest, StatusWaitTimesOutOrTakesWhatWaits) {
    Open();
    std::uint8_t status = 0;
    auto start = Clock::now();
    EXPECT_EQ(port_.ReadStatus(status, kShortWaitMs), ReadResult::TimedOut);
    EXPECT_GE(SecondsSince(start), 0.25);
    EXPECT_LT(SecondsSince(start), 2.0);

    ASSERT_EQ(write(master_, "xy", 2), 2);
    start = Clock::now();
    ASSERT_EQ(port_.ReadStatus(status, 2000), ReadResult::Received);
    EXPECT_EQ(status, 'x');
    ASSERT_EQ(port_.ReadStatus(status, 2000), ReadResult::Received);
    EXPECT_EQ(status, 'y');
    EXPECT_LT(SecondsSince(start), 0.5);
}

// A byte in the line before the load (a banner, noise) is no status.
TEST_F(ComPortPtyTest, DiscardInputDropsWhatWaitedBefore) {
    ASSERT_EQ(write(master_, "\0banner", 7), 7);
    Open();
    ASSERT_TRUE(port_.DiscardInput()) << errno;
    std::uint8_t status = 0xEE;
    EXPECT_EQ(port_.ReadStatus(status, kShortWaitMs), ReadResult::TimedOut);
    ASSERT_EQ(write(master_, "\7", 1), 1);
    ASSERT_EQ(port_.ReadStatus(status, 2000), ReadResult::Received);
    EXPECT_EQ(status, 7);
}

// A pseudo-terminal takes 960 bytes at once and reports no queue, yet at 9600 Bd they are a
// second of line: the wait for the answer starts when the line has carried them, and KeepPace
// holds the writer back to the line.
TEST_F(ComPortPtyTest, WaitsCountFromWhenTheLineHasCarriedTheBytes) {
    Open(9600);
    const std::vector<std::uint8_t> block(960, 0x55);
    auto start = Clock::now();
    ASSERT_EQ(port_.Write(block.data(), 960, 2000), 960);
    EXPECT_LT(SecondsSince(start), 0.5) << "the pseudo-terminal should take it at once";
    std::uint8_t status = 0;
    EXPECT_EQ(port_.ReadStatus(status, kShortWaitMs), ReadResult::TimedOut);
    EXPECT_GE(SecondsSince(start), 1.25);
    EXPECT_LT(SecondsSince(start), 1.8);

    start = Clock::now();
    ASSERT_EQ(port_.Write(block.data(), 960, 2000), 960);
    ASSERT_TRUE(port_.WaitForLine(2000)) << errno;
    EXPECT_LT(SecondsSince(start), 0.5);
    port_.KeepPace(200);
    EXPECT_GE(SecondsSince(start), 0.78);
    EXPECT_LT(SecondsSince(start), 1.3);
}

TEST_F(ComPortPtyTest, WriteToAStalledLineReturnsPartAfterTheStallLimit) {
    Open(921600);
    // Nobody reads the master: the kernel takes what it can buffer, then the stall limit ends it.
    const std::vector<std::uint8_t> block(1 << 20, 0x55);
    const auto start = Clock::now();
    const int n = port_.Write(block.data(), static_cast<std::uint32_t>(block.size()), 500);
    const double waited = SecondsSince(start);
    EXPECT_GT(n, 0);
    EXPECT_LT(n, static_cast<int>(block.size()));
    EXPECT_GE(waited, 0.45);
    EXPECT_LT(waited, 3.0);
}

TEST_F(ComPortPtyTest, HungUpLineFailsWriteAndRead) {
    Open();
    close(master_);
    master_ = -1;
    const std::uint8_t out = 1;
    errno = 0;
    EXPECT_EQ(port_.Write(&out, 1, 2000), -1);
    EXPECT_EQ(errno, EIO);
    std::uint8_t in = 0;
    errno = 0;
    const auto start = Clock::now();
    EXPECT_EQ(port_.ReadStatus(in, 2000), ReadResult::Failed);
    EXPECT_EQ(errno, EIO);
    EXPECT_LT(SecondsSince(start), 1.0) << "a hung-up line is no silent device";
}

TEST_F(ComPortPtyTest, SecondLoaderCannotOpenTheSameLine) {
    Open();
    ComPort second;
    errno = 0;
    EXPECT_FALSE(second.Open(PortPath(slavePath_), 57600));
    EXPECT_FALSE(second.IsOpen());
    // root passes TIOCEXCL and meets the lock; anyone else meets TIOCEXCL.
    EXPECT_TRUE(errno == EWOULDBLOCK || errno == EBUSY) << errno;
    // Once the first lets go, the line is free again.
    port_.Close();
    EXPECT_TRUE(second.Open(PortPath(slavePath_), 57600)) << errno;
}

TEST_F(ComPortPtyTest, TheOwnerClosesThePortAndAMoveHandsItOn) {
    PortHandle handle = kInvalidPortHandle;
    {
        ComPort first;
        ASSERT_TRUE(first.Open(PortPath(slavePath_), 57600)) << errno;
        ComPort moved(std::move(first));
        EXPECT_FALSE(first.IsOpen());
        ASSERT_TRUE(moved.IsOpen());
        handle = moved.Handle();
        EXPECT_FALSE(moved.Open(PortPath(slavePath_), 57600)) << "an open port stays as it is";
        EXPECT_EQ(moved.Handle(), handle);
    }
    EXPECT_EQ(fcntl(static_cast<int>(handle), F_GETFD), -1) << "descriptor left open";
    ComPort again;
    EXPECT_TRUE(again.Open(PortPath(slavePath_), 57600)) << "line still locked: " << errno;
}

// Whatever the line was set to before (here a pseudo-terminal's cooked defaults), it is again
// once the port closes.
TEST_F(ComPortPtyTest, ClosingPutsBackTheSettingsFromBeforeTheOpen) {
    const int slave = open(slavePath_.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    struct termios before;
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    ASSERT_NE(before.c_lflag & ICANON, 0u);
    Open(115200);
    port_.Close();
    struct termios after;
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    close(slave);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
}

// Another program with the line open (a serial terminal left running) would read the device's
// answers: the port is refused, and the note names who holds it.
TEST_F(ComPortPtyTest, PortAnotherProgramHoldsIsRefusedAndTheHolderNamed) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    test_support::SpawnOptions spawn;
    spawn.timeLimit = std::chrono::seconds(10);
    const std::string path = slavePath_;
    test_support::Child holder(spawn, [&] {
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
        (void)!write(ready[1], "x", 1);
        pause();
        return fd >= 0 ? 0 : 1;
    });
    close(ready[1]);
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);

    ComPort port;
    errno = 0;
    EXPECT_FALSE(port.Open(PortPath(slavePath_), 57600));
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(port.Refusal(), PortRefusal::Held);
    const std::string note =
        PortOpenNote(ConsoleTexts(), PortPath(slavePath_), EBUSY, port.Refusal());
    EXPECT_NE(note.find(" " + std::to_string(holder.Pid()) + " ("), std::string::npos) << note;

    holder.Signal(SIGKILL);
    holder.Wait();
    EXPECT_TRUE(port.Open(PortPath(slavePath_), 57600))
        << "free once the holder is gone: " << errno;
}

// A process that wakes after its deadline (a busy machine; here stopped and continued) takes
// what came in time: the status that arrived while it was stopped, the room the line made.
class LateWakeUpTest : public ComPortPtyTest {
  protected:
    // Runs `step` in a child with the port open; stops the child once it is about to wait,
    // calls `whileStopped`, and continues it after the wait's end. True when step returned 0.
    bool StoppedThrough(const std::function<bool(ComPort&)>& prepare,
                        const std::function<bool(ComPort&)>& step,
                        const std::function<void()>& whileStopped) {
        int ready[2];
        if (pipe(ready) != 0) {
            return false;
        }
        test_support::SpawnOptions spawn;
        spawn.timeLimit = std::chrono::seconds(20);
        const std::string path = slavePath_;
        test_support::Child child(spawn, [&] {
            ComPort port;
            if (!port.Open(PortPath(path), 57600) || !prepare(port)) {
                return 2;
            }
            (void)!write(ready[1], "x", 1);
            return step(port) ? 0 : 1;
        });
        close(ready[1]);
        char byte = 0;
        const bool started = read(ready[0], &byte, 1) == 1;
        close(ready[0]);
        if (started) {
            std::this_thread::sleep_for(milliseconds(50));
            child.Signal(SIGSTOP);
            whileStopped();
            std::this_thread::sleep_for(milliseconds(kLongWaitMs + 500));
            child.Signal(SIGCONT);
        }
        const test_support::ExitInfo& exit = child.Wait();
        return exit.exited && exit.exitStatus == 0;
    }
    static constexpr std::uint32_t kLongWaitMs = 2000;
};

TEST_F(LateWakeUpTest, StatusThatCameInTimeIsRead) {
    EXPECT_TRUE(StoppedThrough(
        [](ComPort&) { return true; },
        [](ComPort& port) {
            std::uint8_t status = 0;
            return port.ReadStatus(status, kLongWaitMs) == ReadResult::Received && status == 0x42;
        },
        [this] { ASSERT_EQ(write(master_, "\x42", 1), 1); }));
}

TEST_F(LateWakeUpTest, RoomTheLineMadeInTimeIsUsed) {
    const std::vector<std::uint8_t> block(1 << 20, 0x55);
    EXPECT_TRUE(StoppedThrough(
        [&block](ComPort& port) {
            // Fill what the pseudo-terminal buffers, so the next write must wait for room.
            return port.Write(block.data(), static_cast<std::uint32_t>(block.size()), 100) > 0;
        },
        [&block](ComPort& port) { return port.Write(block.data(), 4096, kLongWaitMs) > 0; },
        [this] {
            std::this_thread::sleep_for(milliseconds(100));
            std::vector<char> sink(1 << 16);
            fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
            while (read(master_, sink.data(), sink.size()) > 0) {
            }
        }));
}

TEST(ComPortTest, PortsThatCannotOpen) {
    struct Case {
        PortName name;
        int error;
    };
    const Case cases[] = {{PortDigit('0'), ENOENT},
                          {PortPath("/dev/null"), ENOTTY},
                          {PortPath("/nonexistent/tty"), ENOENT}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.Label());
        ComPort port;
        errno = 0;
        EXPECT_FALSE(port.Open(c.name, 57600));
        EXPECT_EQ(errno, c.error);
        EXPECT_FALSE(port.IsOpen());
        port.Close();  // nothing to do
    }
}

TEST(LineClockTest, EachByteTakesTenBitTimesAfterTheOneBefore) {
    LineClock line;
    line.SetSpeed(10000);  // 1 ms a byte
    const Clock::time_point t0 = Clock::now();
    line.Add(t0, 100);
    EXPECT_EQ(line.IdleAt(), t0 + milliseconds(100));
    line.Add(t0 + milliseconds(50), 10);  // queued behind the first
    EXPECT_EQ(line.IdleAt(), t0 + milliseconds(110));
    line.Add(t0 + milliseconds(200), 1);  // the line was idle
    EXPECT_EQ(line.IdleAt(), t0 + milliseconds(201));
    EXPECT_EQ(line.TimeFor(6000), milliseconds(6000));
    line.SetSpeed(9600);
    EXPECT_EQ(std::chrono::duration_cast<milliseconds>(line.TimeFor(6000)).count(), 6250);
}

TEST(DeadlineTest, RemainingTime) {
    EXPECT_EQ(Deadline::Never().RemainingMs(), -1);
    EXPECT_FALSE(Deadline::Never().Expired());
    const Deadline now = Deadline::AfterMs(0);
    EXPECT_EQ(now.RemainingMs(), 0);
    EXPECT_TRUE(now.Expired());
    const int left = Deadline::AfterMs(10000).RemainingMs();
    EXPECT_GT(left, 9000);
    EXPECT_LE(left, 10000);
}

}  // namespace
