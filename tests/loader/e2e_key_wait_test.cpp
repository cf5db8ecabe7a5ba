// portboot's key wait before an error exit, end to end: with a pseudo-terminal as its
// controlling terminal it waits for one key typed there (not on standard input); without a
// controlling terminal it does not wait at all.
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "devsim_session.h"

namespace {

using namespace std::chrono_literals;
using test_support::Child;
using test_support::DevsimSession;
using test_support::SpawnOptions;
using test_support::TempDir;

const std::string kPortboot = PORTBOOT_PATH;
const std::string kDevsim = DEVSIM_PATH;

// Long enough that a program which does not wait would have ended.
constexpr auto kStillWaitingAfter = 300ms;
constexpr auto kEndsAfterKeyWithin = 3000ms;

// A pty pair shares one termios: the master shows when the program has switched line input off
// for its key wait. Typing Ctrl+C before that would still raise SIGINT, so wait for it (or give
// up after a while and let the key show what happens).
void WaitForKeyWaitMode(int master) {
    auto giveUp = std::chrono::steady_clock::now() + 2s;
    termios attributes{};
    while (std::chrono::steady_clock::now() < giveUp && tcgetattr(master, &attributes) == 0 &&
           (attributes.c_lflag & ICANON) != 0) {
        std::this_thread::sleep_for(10ms);
    }
}

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
SpawnOptions PortbootFor(Scenario scenario, const TempDir& dir, const std::string& port,
                         bool controllingPty) {
    test_support::WriteFile(dir.File("image.bin"), "abc");
    SpawnOptions spawn;
    spawn.argv = {kPortboot, "image.bin"};
    if (scenario != Scenario::Usage) {
        spawn.argv.push_back(port);
    }
    spawn.extraEnv = {"LC_ALL=C.UTF-8"};
    spawn.workDir = dir.Path();
    spawn.controllingPty = controllingPty;
    spawn.timeLimit = 10s;
    return spawn;
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
        WaitForKeyWaitMode(portboot.PtyMaster());
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
// and standard input (here /dev/null) is not read instead.
TEST(KeyWaitWithoutTerminal, ErrorExitsDoNotWait) {
    for (Scenario scenario : {Scenario::Usage, Scenario::DeviceError}) {
        TempDir dir;
        DevsimSession device(kDevsim, dir, DevsimOptionsFor(scenario));
        Child portboot(PortbootFor(scenario, dir, device.SlavePath(), false));
        ASSERT_TRUE(portboot.WaitFor(kEndsAfterKeyWithin)) << "waited without a terminal";
        const test_support::ExitInfo& exit = portboot.Wait();
        ASSERT_TRUE(exit.exited) << test_support::Describe(exit);
        EXPECT_EQ(exit.exitStatus, scenario == Scenario::Usage ? 1 : 8);
        device.Stop();
    }
}

}  // namespace
