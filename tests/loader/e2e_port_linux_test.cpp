// The Linux portboot and the other users of a serial line: lock files as other serial programs
// write them (a live process's lock refuses the port and names it, a stale one is passed over),
// a holder whose name would drive the terminal (shown escaped), a signal that ends a load (the
// line is given back as it was, and a retry is accepted at once), and the line under "no answer"
// in its two forms. Each run is the program against devsim on a real pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "devsim_session.h"
#include "expected_texts.h"
#include "portboot_path.h"

namespace {

using namespace std::chrono_literals;
using namespace expected;
using test_support::Child;
using test_support::DeviceRecord;
using test_support::DevsimSession;
using test_support::SpawnOptions;
using test_support::TempDir;

const std::string kDevsim = DEVSIM_PATH;
const char kImageName[] = "image.bin";
constexpr auto kRunTimeLimit = 20s;
// The lock directory the program looks in first; /run/lock where /var/lock links there.
const std::string kLockDir = "/var/lock";

std::string CommOf(pid_t pid) {
    return test_support::ReadFile("/proc/" + std::to_string(pid) + "/comm");
}

enum class Hold { Open, Flock, Exclusive };

// A process of the test's own that names itself (the name /proc/PID/comm shows) and, where
// given a device, holds it open, with an flock or in exclusive use if asked; it lives until the
// test ends it.
std::unique_ptr<Child> NamedProcess(const std::string& name, const std::string& device = "",
                                    Hold hold = Hold::Open) {
    SpawnOptions spawn;
    spawn.timeLimit = 60s;
    auto child = std::make_unique<Child>(spawn, [name, device, hold] {
        const int fd = device.empty() ? -1 : open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (!device.empty() &&
            (fd < 0 || (hold == Hold::Flock && flock(fd, LOCK_EX | LOCK_NB) != 0) ||
             (hold == Hold::Exclusive && ioctl(fd, TIOCEXCL) != 0))) {
            return 1;
        }
        prctl(PR_SET_NAME, name.c_str(), 0, 0, 0);
        for (;;) {
            pause();
        }
    });
    // The name is set after the device is open: once it shows, both are in place.
    for (int tries = 0; tries < 300 && CommOf(child->Pid()) != name + "\n"; ++tries) {
        std::this_thread::sleep_for(10ms);
    }
    return child;
}

// A PID that no process has any more: a child that has ended and been reaped.
pid_t GonePid() {
    SpawnOptions spawn;
    Child child(spawn, [] { return 0; });
    child.Wait();
    return child.Pid();
}

// A lock file of the test's own in the real lock directory, for a device no one else uses (a
// fresh pseudo-terminal), removed again at the end.
class LockFile {
  public:
    LockFile(const std::string& name, const std::string& content) : path_(kLockDir + "/" + name) {
        test_support::WriteFile(path_, content);
    }
    ~LockFile() { unlink(path_.c_str()); }
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

bool LockDirWritable() {
    return access(kLockDir.c_str(), W_OK) == 0;
}

std::string AsciiPid(pid_t pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    return text;
}

std::string BinaryPid(pid_t pid) {
    const std::int32_t value = pid;
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

std::string NodeName(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

// /dev/pts/3 as lockdev names it: pts_3.
std::string UnderDevName(const std::string& path) {
    std::string name = path.substr(std::strlen("/dev/"));
    for (char& c : name) {
        c = c == '/' ? '_' : c;
    }
    return name;
}

enum class Pid { Live, Gone, None };

enum class Form { Ascii, AsciiAndName, Binary };

struct LockCase {
    const char* name;
    std::function<std::string(const std::string&)> lockName;  // of the device's path
    Pid pid;
    Form form;
};

// A live process's lock refuses the port (status 3, EBUSY) before the device is opened, with its
// PID, its name and the lock file named; a stale lock, or one that holds no PID, is passed over
// and the load goes through.
TEST(PortbootLockFiles, LiveLockRefusesThePortStaleLockIsPassedOver) {
    if (!LockDirWritable()) {
        GTEST_SKIP() << kLockDir << " is not writable here";
    }
    const auto uucp = [](const std::string& path) { return "LCK.." + NodeName(path); };
    const auto lockdev = [](const std::string& path) { return "LCK.." + UnderDevName(path); };
    const LockCase cases[] = {
        {"ASCII PID of a live process", uucp, Pid::Live, Form::Ascii},
        {"ASCII PID and the program's name", uucp, Pid::Live, Form::AsciiAndName},
        {"binary PID of a live process", uucp, Pid::Live, Form::Binary},
        {"the device's path under /dev with '_'", lockdev, Pid::Live, Form::Ascii},
        {"ASCII PID of a process gone", uucp, Pid::Gone, Form::Ascii},
        {"binary PID of a process gone", uucp, Pid::Gone, Form::Binary},
        {"no PID at all", uucp, Pid::None, Form::Ascii},
    };
    for (const LockCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        test_support::WriteFile(dir.File(kImageName), "abc");
        DevsimSession device(kDevsim, dir, {});
        // A name that could drive the terminal, too: it is shown escaped.
        std::unique_ptr<Child> owner = NamedProcess("minicom\x1b[2J");
        // A binary PID whose first byte reads as an ASCII digit must still be read as binary.
        for (int tries = 0;
             c.form == Form::Binary && !std::isdigit(owner->Pid() & 0xFF) && tries < 1000;
             ++tries) {
            owner = NamedProcess("minicom\x1b[2J");
        }
        const pid_t pid = c.pid == Pid::Live ? owner->Pid() : GonePid();
        std::string content = c.form == Form::Binary ? BinaryPid(pid) : AsciiPid(pid);
        if (c.form == Form::AsciiAndName) {
            content = std::to_string(pid) + " minicom root\n";
        }
        if (c.pid == Pid::None) {
            content = "locked by hand\n";
        }
        const LockFile lock(c.lockName(device.SlavePath()), content);
        const test_support::RunResult run = test_support::RunPortboot(
            e2e::PortbootPath(), dir.Path(), {kImageName, device.SlavePath()}, kRunTimeLimit);
        const bool refused = c.pid == Pid::Live;
        DeviceRecord received = refused ? device.Stop() : device.Finish();
        ASSERT_TRUE(run.exit.exited) << test_support::Describe(run.exit);
        if (refused) {
            EXPECT_EQ(run.exit.exitStatus, 3);
            EXPECT_EQ(run.out, kPortOpenError + "16\nПорт " + device.SlavePath() +
                                   " занят: процесс " + std::to_string(pid) +
                                   " (minicom\\x1B[2J), файл блокировки " + lock.Path() + "\n");
            EXPECT_EQ(received.fields["commands"], "none") << received.summary;
        } else {
            EXPECT_EQ(run.exit.exitStatus, 0) << run.out;
            EXPECT_EQ(received.fields["result"], "complete") << received.summary;
        }
    }
}

// A holder may call itself anything: its name reaches the screen escaped (C0, DEL, the C1
// controls as bytes and as UTF-8, ill-formed UTF-8), never as what it would do to a terminal.
TEST(PortbootPort, HolderNameIsShownEscaped) {
    TempDir dir;
    test_support::WriteFile(dir.File(kImageName), "abc");
    DevsimSession device(kDevsim, dir, {});
    std::unique_ptr<Child> holder =
        NamedProcess("\x1b]2;x\x07\xc2\x9b\x9b\x7fЖ\xf4\x90", device.SlavePath());
    const test_support::RunResult run = test_support::RunPortboot(
        e2e::PortbootPath(), dir.Path(), {kImageName, device.SlavePath()}, kRunTimeLimit);
    device.Stop();
    ASSERT_TRUE(run.exit.exited) << test_support::Describe(run.exit);
    EXPECT_EQ(run.exit.exitStatus, 3);
    EXPECT_EQ(run.out, kPortOpenError + "16\nПорт " + device.SlavePath() + " занят: процесс " +
                           std::to_string(holder->Pid()) +
                           " (\\x1B]2;x\\x07\\xC2\\x9B\\x9B\\x7FЖ\\xF4\\x90)\n");
}

// A user who may not look into another user's /proc/<pid>/fd still meets that user's flock on the
// port: refused as a port in use (16, as for any holder, not flock's 11), and the holder named
// from /proc/locks, which every user may read.
TEST(PortbootPort, FlockHolderHiddenFromThisUserIsNamed) {
    constexpr uid_t kNobody = 65534;
    if (geteuid() != 0) {
        GTEST_SKIP() << "runs portboot as another user: needs root";
    }
    const std::string program = e2e::PortbootPath();
    TempDir dir;
    test_support::WriteFile(dir.File(kImageName), "abc");
    DevsimSession device(kDevsim, dir, {});
    ASSERT_EQ(chmod(device.SlavePath().c_str(), 0666), 0);
    std::unique_ptr<Child> holder = NamedProcess("flockholder", device.SlavePath(), Hold::Flock);
    SpawnOptions spawn;
    spawn.extraEnv = {"LC_ALL=C.UTF-8"};
    spawn.timeLimit = kRunTimeLimit;
    Child portboot(spawn, [&] {
        if (setgid(kNobody) != 0 || setuid(kNobody) != 0 || access(program.c_str(), X_OK) != 0) {
            return 99;
        }
        execl(program.c_str(), program.c_str(), kImageName, device.SlavePath().c_str(),
              static_cast<char*>(nullptr));
        return 98;
    });
    const test_support::ExitInfo& exit = portboot.Wait();
    device.Stop();
    ASSERT_TRUE(exit.exited) << test_support::Describe(exit);
    if (exit.exitStatus == 99) {
        GTEST_SKIP() << "user nobody cannot run " << program;
    }
    EXPECT_EQ(exit.exitStatus, 3);
    EXPECT_EQ(portboot.Stdout(), kPortOpenError + "16\nПорт " + device.SlavePath() +
                                     " занят: процесс " + std::to_string(holder->Pid()) +
                                     " (flockholder)\n");
}

struct LineState {
    termios settings;
    int exclusive;
};

// The slave as anyone opening it next finds it. Root opens an exclusive line anyway, so the flag
// is read rather than inferred from a refused open.
bool ReadLine(const std::string& slavePath, LineState& state) {
    const int fd = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    const bool read =
        tcgetattr(fd, &state.settings) == 0 && ioctl(fd, TIOCGEXCL, &state.exclusive) == 0;
    close(fd);
    return read;
}

// A signal that ends a load (Ctrl+C, a kill, a closed terminal, any other that ends a process)
// gives the line back as it was: its settings, exclusive use dropped, the lock released; then
// the program ends by that very signal. The far end (devsim) stays open throughout, so the line's
// state would outlive the program; a retry at once is accepted.
TEST(PortbootSignals, EndingSignalDuringALoadGivesTheLineBack) {
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) {
        SCOPED_TRACE(strsignal(signalNumber));
        TempDir dir;
        test_support::WriteFile(dir.File(kImageName), std::string(6000, '\x55'));  // 6.3 s
        // Cooked as the kernel opens it, so raw settings left behind show.
        DevsimSession device(kDevsim, dir, {"--pace", "9600", "--cooked"});
        LineState before{};
        ASSERT_TRUE(ReadLine(device.SlavePath(), before));
        SpawnOptions spawn;
        spawn.argv = {e2e::PortbootPath(), kImageName, device.SlavePath(), "9600", "R"};
        spawn.extraEnv = {"LC_ALL=C.UTF-8"};
        spawn.workDir = dir.Path();
        spawn.timeLimit = kRunTimeLimit;
        Child portboot(spawn);
        std::this_thread::sleep_for(1500ms);  // well inside the image's line time
        ASSERT_TRUE(portboot.Running()) << test_support::Describe(portboot.Wait());
        portboot.Signal(signalNumber);
        ASSERT_TRUE(portboot.WaitFor(5s));
        const test_support::ExitInfo& exit = portboot.Wait();
        EXPECT_EQ(exit.signal, signalNumber) << test_support::Describe(exit);

        LineState after{};
        ASSERT_TRUE(ReadLine(device.SlavePath(), after));
        EXPECT_EQ(after.exclusive, 0) << "the line is still exclusive";
        EXPECT_EQ(after.settings.c_iflag, before.settings.c_iflag);
        EXPECT_EQ(after.settings.c_oflag, before.settings.c_oflag);
        EXPECT_EQ(after.settings.c_lflag, before.settings.c_lflag);
        EXPECT_EQ(after.settings.c_cflag, before.settings.c_cflag);
        EXPECT_EQ(cfgetospeed(&after.settings), cfgetospeed(&before.settings));

        // The retry finds the line free; devsim, still in the middle of the first image, takes
        // its bytes as more image and does not answer.
        const test_support::RunResult retry =
            test_support::RunPortboot(e2e::PortbootPath(), dir.Path(),
                                      {kImageName, device.SlavePath(), "9600"}, kRunTimeLimit);
        ASSERT_TRUE(retry.exit.exited) << test_support::Describe(retry.exit);
        EXPECT_NE(retry.exit.exitStatus, 3) << retry.out;
        EXPECT_EQ(retry.out.find(kPortOpenError), std::string::npos) << retry.out;
        device.Stop();
    }
}

// A port refused because another program holds it keeps what that program set: root opens a line
// in exclusive use all the same, and must not drop the holder's exclusive use on its way out.
TEST(PortbootPort, RefusedPortKeepsItsHoldersExclusiveUse) {
    TempDir dir;
    test_support::WriteFile(dir.File(kImageName), "abc");
    DevsimSession device(kDevsim, dir, {});
    std::unique_ptr<Child> holder = NamedProcess("exclusive", device.SlavePath(), Hold::Exclusive);
    const test_support::RunResult run = test_support::RunPortboot(
        e2e::PortbootPath(), dir.Path(), {kImageName, device.SlavePath()}, kRunTimeLimit);
    ASSERT_TRUE(run.exit.exited) << test_support::Describe(run.exit);
    ASSERT_EQ(run.exit.exitStatus, 3) << run.out;
    LineState after{};
    if (!ReadLine(device.SlavePath(), after)) {
        GTEST_SKIP() << "the line is exclusive and this user is not root: nothing to look at";
    }
    EXPECT_EQ(after.exclusive, 1) << "the holder's exclusive use was dropped";
    device.Stop();
}

// Under "no answer" a line names the port and speed and what to check; where ModemManager runs
// (here a process of that name), it adds that the service may hold USB ACM ports.
TEST(PortbootNoAnswer, NoteNamesPortSpeedAndModemServiceWhereItRuns) {
    // One run of this test at a time (the installed program's run goes beside the built one's,
    // in this same test program): the other's stand-in ModemManager would change this one's
    // note. The lock is on the test program's own file, so nothing is left behind.
    const int turn = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(turn, 0);
    ASSERT_EQ(flock(turn, LOCK_EX), 0);
    TempDir dir;
    test_support::WriteFile(dir.File(kImageName), "abc");
    const bool realServiceRuns = system("pgrep -x ModemManager >/dev/null 2>&1") == 0;
    for (bool serviceRuns : {false, true}) {
        SCOPED_TRACE(serviceRuns ? "with ModemManager" : "without");
        if (!serviceRuns && realServiceRuns) {
            continue;  // this machine has the real one
        }
        std::unique_ptr<Child> service = serviceRuns ? NamedProcess("ModemManager") : nullptr;
        DevsimSession device(kDevsim, dir, {"--silent", "0"});
        const test_support::RunResult run =
            test_support::RunPortboot(e2e::PortbootPath(), dir.Path(),
                                      {kImageName, "19200", device.SlavePath()}, kRunTimeLimit);
        device.Stop();
        ASSERT_TRUE(run.exit.exited) << test_support::Describe(run.exit);
        EXPECT_EQ(run.exit.exitStatus, 7);
        const std::string note = kNoAnswerNotePort + device.SlavePath() + ", 19200" +
                                 kNoAnswerNoteAdvice + (serviceRuns ? kNoAnswerModemNote : "");
        const std::string tail = kInit + kNoAnswer + note + "\n\n";
        ASSERT_GE(run.out.size(), tail.size()) << run.out;
        EXPECT_EQ(run.out.substr(run.out.size() - tail.size()), tail);
    }
    close(turn);
}

}  // namespace
