// portboot's key wait before an error exit, end to end: with a pseudo-terminal as its
// controlling terminal it waits for one key typed there (not on standard input); without a
// controlling terminal it does not wait at all, and does not spin either. Under Wine the terminal
// is PORTBOOT.EXE's console, and _getch does the waiting.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "devsim_session.h"
#include "e2e_program.h"

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

TEST_P(KeyWait, WithControllingTerminal) {
    const KeyCase& row = GetParam();
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
    device.Stop();
}

const KeyCase kKeyCases[] = {
    {"UsageWaitsForKey", Scenario::Usage, "x", 1},
    // Ctrl+C is an ordinary key here: it ends the wait and does not kill the program.
    {"CtrlCIsAnOrdinaryKey", Scenario::Usage, "\x03", 1},
    {"DeviceErrorWaitsForKey", Scenario::DeviceError, "\r", 8},
    {"SuccessDoesNotWait", Scenario::Success, "", 0},
};

INSTANTIATE_TEST_SUITE_P(Portboot, KeyWait, ::testing::ValuesIn(kKeyCases),
                         [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

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
