// The POSIX serial layer against real pseudo-terminals: line settings, speeds without a
// B-constant, the read and write time-outs, exclusive use, and the deadline helper they rest on.
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "com_port.h"
#include "deadline.h"
#include "line_speed_linux.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kConstantMs = 2000;

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

    // Opened and set as the loader sets it.
    void OpenAsLoader(std::uint32_t baud = 57600) {
        ASSERT_TRUE(port_.Configure(slavePath_.c_str(), baud, 0, 8, 0)) << errno;
        ASSERT_TRUE(port_.SetTimeouts(kTimeoutMax, kTimeoutMax, kConstantMs, 0));
    }

    int master_ = -1;
    std::string slavePath_;
    ComPort port_;
};

TEST_F(ComPortPtyTest, ConfigureGivesRaw8N1WithoutFlowControl) {
    OpenAsLoader();
    struct termios tio;
    ASSERT_EQ(tcgetattr(static_cast<int>(port_.handle), &tio), 0);
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
        ASSERT_TRUE(port_.Configure(slavePath_.c_str(), baud, 0, 8, 0)) << errno;
        std::uint32_t got = 0;
        ASSERT_TRUE(GetLineSpeed(static_cast<int>(port_.handle), got));
        EXPECT_EQ(got, baud);
    }
}

TEST_F(ComPortPtyTest, ReadWithNothingArrivingTimesOut) {
    OpenAsLoader();
    std::uint8_t byte = 0;
    const auto start = Clock::now();
    EXPECT_FALSE(port_.ReadByte(byte));
    const double waited = SecondsSince(start);
    EXPECT_GE(waited, 1.5);
    EXPECT_LT(waited, 5.0);
}

TEST_F(ComPortPtyTest, WaitingBytesReturnAtOnce) {
    OpenAsLoader();
    ASSERT_EQ(write(master_, "xyz", 3), 3);
    std::uint8_t byte = 0;
    const auto start = Clock::now();
    ASSERT_TRUE(port_.ReadByte(byte));
    EXPECT_EQ(byte, 'x');
    std::uint8_t rest[8] = {};
    EXPECT_EQ(port_.Read(rest, sizeof rest), 2);
    EXPECT_LT(SecondsSince(start), 0.5);
    EXPECT_EQ(port_.bytesRead, 3u);
}

TEST_F(ComPortPtyTest, LongWriteToAStalledLineReturnsPartAfterTheConstant) {
    OpenAsLoader();
    // Nobody reads the master: the kernel takes what it can buffer, then the time-out ends it.
    const std::vector<std::uint8_t> block(1 << 20, 0x55);
    const auto start = Clock::now();
    const int n = port_.Write(block.data(), static_cast<std::uint32_t>(block.size()));
    const double waited = SecondsSince(start);
    EXPECT_GT(n, 0);
    EXPECT_LT(n, static_cast<int>(block.size()));
    EXPECT_GE(waited, 1.5);
    EXPECT_LT(waited, 5.0);
    EXPECT_EQ(port_.bytesWritten, static_cast<std::uint32_t>(n));
}

TEST_F(ComPortPtyTest, HungUpLineFailsReadAndWrite) {
    OpenAsLoader();
    close(master_);
    master_ = -1;
    const std::uint8_t out = 1;
    errno = 0;
    EXPECT_EQ(port_.Write(&out, 1), -1);
    EXPECT_EQ(errno, EIO);
    std::uint8_t in = 0;
    errno = 0;
    EXPECT_EQ(port_.Read(&in, 1), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(port_.bytesWritten, 0u);
}

TEST_F(ComPortPtyTest, SecondLoaderCannotOpenTheSameLine) {
    OpenAsLoader();
    ComPort second;
    errno = 0;
    EXPECT_FALSE(second.Configure(slavePath_.c_str(), 57600, 0, 8, 0));
    EXPECT_EQ(second.handle, kInvalidPortHandle);
    // root passes TIOCEXCL and meets the lock; anyone else meets TIOCEXCL.
    EXPECT_TRUE(errno == EWOULDBLOCK || errno == EBUSY) << errno;
    // Once the first lets go, the line is free again.
    ASSERT_TRUE(port_.Close());
    EXPECT_TRUE(second.Configure(slavePath_.c_str(), 57600, 0, 8, 0)) << errno;
    second.Close();
}

TEST_F(ComPortPtyTest, OpenOnAnOpenPortKeepsIt) {
    OpenAsLoader();
    const PortHandle first = port_.handle;
    port_.Open("/dev/null");
    EXPECT_EQ(port_.handle, first);
}

TEST(ComPortTest, Com0NamesNoDevice) {
    ComPort port;
    errno = 0;
    EXPECT_FALSE(port.Configure("COM0", 57600, 0, 8, 0));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(port.handle, kInvalidPortHandle);
}

TEST(ComPortTest, NotATerminalFailsToConfigure) {
    ComPort port;
    errno = 0;
    EXPECT_FALSE(port.Configure("/dev/null", 57600, 0, 8, 0));
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_TRUE(port.Close());
}

TEST(ComPortTest, CloseOfANeverOpenedPortDoesNothing) {
    ComPort port;
    EXPECT_TRUE(port.Close());
    EXPECT_EQ(port.handle, kInvalidPortHandle);
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
