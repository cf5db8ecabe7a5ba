// portboot's key wait before an error exit, end to end: with a pseudo-terminal as its
// controlling terminal it waits for one key typed there (not on standard input); without a
// controlling terminal it does not wait at all, and does not spin either. Under Wine the terminal
// is PORTBOOT.EXE's console, and _getch does the waiting.
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "devsim_session.h"
#include "e2e_program.h"
#include "portboot_path.h"

namespace {

using namespace std::chrono_literals;
using test_support::Child;
using test_support::DevsimSession;
using test_support::SpawnOptions;
using test_support::TempDir;

const std::string kDevsim = DEVSIM_PATH;

// Long enough that a program which does not wait would have ended.
constexpr auto kStillWaitingAfter = 300ms;
constexpr auto kEndsAfterKeyWithin = 3000ms;
// Processor time a run without a console may take; a key wait that spins would use up the whole
// of kEndsAfterKeyWithin. Wine's own start-up is counted too.
constexpr auto kMostCpuWithoutConsole = 1000ms;

enum class Scenario { Usage, DeviceError, Success };

struct KeyCase {
    const char* name;
    Scenario scenario;
    std::string key;  // typed on the terminal; empty: none is needed
    int exitStatus;
    bool linuxOnly = false;
};

std::ostream& operator<<(std::ostream& stream, const KeyCase& row) {
    return stream << row.name;
}

// Starts portboot for the scenario, its devsim (if any) kept alive by the caller.
SpawnOptions PortbootFor(Scenario scenario, const TempDir& dir, const std::string& slavePath,
                         bool controllingPty) {
    const e2e::PortbootProgram& program = e2e::ProgramUnderTest();
    test_support::WriteFile(dir.File("image.bin"), "abc");
    std::vector<std::string> args = {"image.bin"};
    if (scenario != Scenario::Usage) {
        args.push_back(program.AttachPort(slavePath));
    }
    SpawnOptions spawn = program.Spawn(args, dir.Path(), controllingPty);
    spawn.timeLimit = 10s;
    return spawn;
}

std::chrono::milliseconds CpuOfReapedChildren() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    auto ms = [](const timeval& time) {
        return std::chrono::milliseconds(time.tv_sec * 1000 + time.tv_usec / 1000);
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

std::vector<std::string> DevsimOptionsFor(Scenario scenario) {
    if (scenario == Scenario::DeviceError) {
        return {"--status", "0=5"};
    }
    return {};
}

class KeyWait : public ::testing::TestWithParam<KeyCase> {};

// The line settings a new pseudo-terminal has, as the launcher makes it: canonical, echo, flow
// control, output processing. A program that ends must leave its terminal so.
termios FreshTerminal() {
    int master = -1;
    int slave = -1;
    termios fresh{};
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) == 0) {
        tcgetattr(slave, &fresh);
        close(slave);
        close(master);
    }
    return fresh;
}

void ExpectTerminalAsFresh(int master) {
    const termios fresh = FreshTerminal();
    termios now{};
    ASSERT_EQ(tcgetattr(master, &now), 0);
    EXPECT_EQ(now.c_iflag, fresh.c_iflag);
    EXPECT_EQ(now.c_oflag, fresh.c_oflag);
    EXPECT_EQ(now.c_lflag, fresh.c_lflag);
    EXPECT_EQ(now.c_cflag, fresh.c_cflag);
}

TEST_P(KeyWait, WithControllingTerminal) {
    const KeyCase& row = GetParam();
    if (row.linuxOnly && &e2e::ProgramUnderTest() != &e2e::LinuxPortboot()) {
        GTEST_SKIP() << "a row for the Linux program";
    }
    TempDir dir;
    DevsimSession device(kDevsim, dir, DevsimOptionsFor(row.scenario));
    Child portboot(PortbootFor(row.scenario, dir, device.SlavePath(), true));

    if (!row.key.empty()) {
        std::this_thread::sleep_for(kStillWaitingAfter);
        ASSERT_TRUE(portboot.Running())
            << "ended without waiting for a key: " << test_support::Describe(portboot.Wait());
        e2e::ProgramUnderTest().AwaitKeyWait(portboot);
        EXPECT_NE(portboot.Stdout(), "") << "waits with its message still held back";
        ASSERT_EQ(write(portboot.PtyMaster(), row.key.data(), row.key.size()),
                  static_cast<ssize_t>(row.key.size()));
    }
    ASSERT_TRUE(portboot.WaitFor(kEndsAfterKeyWithin)) << "still waiting after the key";
    const test_support::ExitInfo& exit = portboot.Wait();
    ASSERT_TRUE(exit.exited) << test_support::Describe(exit);
    EXPECT_EQ(exit.exitStatus, row.exitStatus);
    if (&e2e::ProgramUnderTest() == &e2e::LinuxPortboot()) {
        ExpectTerminalAsFresh(portboot.PtyMaster());
    }
    device.Stop();
}

const KeyCase kKeyCases[] = {
    {"UsageWaitsForKey", Scenario::Usage, "x", 1},
    // Ctrl+C is an ordinary key here: it ends the wait and does not kill the program.
    {"CtrlCIsAnOrdinaryKey", Scenario::Usage, "\x03", 1},
    {"DeviceErrorWaitsForKey", Scenario::DeviceError, "\r", 8},
    // Flow control is off for the wait: Ctrl+S and Ctrl+Q end it, and Ctrl+S stops no output.
    {"CtrlSIsAnOrdinaryKey", Scenario::DeviceError, "\x13", 8, true},
    {"CtrlQIsAnOrdinaryKey", Scenario::Usage, "\x11", 1, true},
    {"SuccessDoesNotWait", Scenario::Success, "", 0},
};

INSTANTIATE_TEST_SUITE_P(Portboot, KeyWait, ::testing::ValuesIn(kKeyCases),
                         [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

// A signal from elsewhere during the key wait (any that ends a process) puts the terminal back as
// it was, and the program still dies by that signal.
TEST(KeyWaitSignals, EveryEndingSignalRestoresTheTerminal) {
    if (&e2e::ProgramUnderTest() != &e2e::LinuxPortboot()) {
        GTEST_SKIP() << "POSIX signals";
    }
    for (int signalNumber : {SIGUSR1, SIGALRM, SIGPIPE, SIGTERM, SIGRTMIN + 1}) {
        SCOPED_TRACE(signalNumber);
        TempDir dir;
        DevsimSession device(kDevsim, dir, DevsimOptionsFor(Scenario::DeviceError));
        Child portboot(PortbootFor(Scenario::DeviceError, dir, device.SlavePath(), true));
        e2e::ProgramUnderTest().AwaitKeyWait(portboot);
        portboot.Signal(signalNumber);
        ASSERT_TRUE(portboot.WaitFor(kEndsAfterKeyWithin));
        const test_support::ExitInfo& exit = portboot.Wait();
        EXPECT_EQ(exit.signal, signalNumber) << test_support::Describe(exit);
        ExpectTerminalAsFresh(portboot.PtyMaster());
        device.Stop();
    }
}

// The port named is the terminal the program runs in, by any name: refused with the line that
// says so, before anything goes to the screen as an image, and the terminal left as it was.
TEST(PortIsOwnTerminal, IsRefusedAndTheTerminalLeftAsItWas) {
    if (&e2e::ProgramUnderTest() != &e2e::LinuxPortboot()) {
        GTEST_SKIP() << "a terminal as the port is a Linux path";
    }
    struct Case {
        const char* name;
        const char* script;  // $0 is portboot; prints nothing itself
        const char* shown;   // the port as the note names it; "" for the terminal's own path
    };
    const Case cases[] = {
        {"/dev/tty", "exec \"$0\" image.bin /dev/tty R", "/dev/tty"},
        {"a link to /dev/tty", "ln -s /dev/tty term && exec \"$0\" image.bin \"$PWD/term\" R",
         "{dir}/term"},
        {"the terminal's own path", "exec \"$0\" image.bin \"$(tty)\" R", ""},
        {"a link to that path", "ln -s \"$(tty)\" term && exec \"$0\" image.bin \"$PWD/term\" R",
         "{dir}/term"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        test_support::WriteFile(dir.File("image.bin"), "abc");
        SpawnOptions spawn;
        spawn.argv = {"/bin/sh", "-c", c.script, e2e::PortbootPath()};
        spawn.extraEnv = {"LC_ALL=C.UTF-8"};
        spawn.workDir = dir.Path();
        spawn.controllingPty = true;
        spawn.stdinFromPty = true;  // for tty(1)
        spawn.timeLimit = 10s;
        Child portboot(spawn);
        e2e::ProgramUnderTest().AwaitKeyWait(portboot);
        ASSERT_EQ(write(portboot.PtyMaster(), "x", 1), 1);
        ASSERT_TRUE(portboot.WaitFor(kEndsAfterKeyWithin)) << portboot.Stdout();
        const test_support::ExitInfo& exit = portboot.Wait();
        ASSERT_TRUE(exit.exited) << test_support::Describe(exit);
        EXPECT_EQ(exit.exitStatus, 3);
        char slave[128] = {};
        ASSERT_EQ(ptsname_r(portboot.PtyMaster(), slave, sizeof slave), 0);
        std::string shown = *c.shown != '\0' ? c.shown : slave;
        if (shown.rfind("{dir}", 0) == 0) {
            shown.replace(0, 5, dir.Path());
        }
        EXPECT_EQ(portboot.Stdout(), "Невозможно открыть COM-порт, ошибка: 16\nПорт " + shown +
                                         ": это терминал, в котором работает программа, а не "
                                         "линия к устройству\n");
        ExpectTerminalAsFresh(portboot.PtyMaster());
    }
}

// Without a controlling terminal there is no one to press a key: the error exits at once,
// and standard input (here /dev/null) is not read instead. Nor may the key read spin on a
// console that is not there: the processor time the run took stays small.
TEST(KeyWaitWithoutTerminal, ErrorExitsDoNotWait) {
    for (Scenario scenario : {Scenario::Usage, Scenario::DeviceError}) {
        TempDir dir;
        DevsimSession device(kDevsim, dir, DevsimOptionsFor(scenario));
        std::chrono::milliseconds cpuBefore = CpuOfReapedChildren();
        Child portboot(PortbootFor(scenario, dir, device.SlavePath(), false));
        ASSERT_TRUE(portboot.WaitFor(kEndsAfterKeyWithin)) << "waited without a terminal";
        const test_support::ExitInfo& exit = portboot.Wait();
        std::chrono::milliseconds cpu = CpuOfReapedChildren() - cpuBefore;
        ASSERT_TRUE(exit.exited) << test_support::Describe(exit);
        EXPECT_EQ(exit.exitStatus, scenario == Scenario::Usage ? 1 : 8);
        EXPECT_LT(cpu, kMostCpuWithoutConsole);
        std::cout << "[ timing   ] " << e2e::ProgramUnderTest().Name()
                  << " without a console: " << exit.elapsed.count() << " ms, " << cpu.count()
                  << " ms of processor time\n";
        device.Stop();
    }
}

}  // namespace
