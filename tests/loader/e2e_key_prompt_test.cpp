// The key wait shows itself on the terminal: while portboot waits for a key before an error exit,
// the terminal (libvterm's screen of the program's controlling pty) shows that a key is awaited;
// after the key the prompt is gone, so the screen reads as the transcript, and output redirected
// to a file holds not a byte of it. PORTBOOT_NO_KEY_WAIT turns the wait off in a terminal.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>

#include "devsim_session.h"
#include "expected_texts.h"
#include "portboot_path.h"
#include "terminal_screen.h"

namespace {

using namespace std::chrono_literals;
using test_support::Child;
using test_support::DevsimSession;
using test_support::SpawnOptions;
using test_support::TempDir;
using test_support::TerminalScreen;

const std::string kDevsim = DEVSIM_PATH;
const std::string kPrompt = "Нажмите любую клавишу...";
constexpr int kRows = 25;
constexpr int kCols = 80;

// Feeds what the program writes to its terminal into the screen until `until` holds, the
// program has ended and said all, or the time is up. True when `until` held.
bool Pump(Child& program, TerminalScreen& screen, const std::function<bool()>& until,
          std::chrono::milliseconds maxWait) {
    const auto giveUp = std::chrono::steady_clock::now() + maxWait;
    while (std::chrono::steady_clock::now() < giveUp) {
        if (until()) {
            return true;
        }
        pollfd watch{program.PtyMaster(), POLLIN, 0};
        if (poll(&watch, 1, 20) > 0) {
            char buffer[4096];
            const ssize_t got = read(program.PtyMaster(), buffer, sizeof buffer);
            if (got > 0) {
                screen.Feed(buffer, static_cast<std::size_t>(got));
                continue;
            }
        }
        if (!program.Running()) {
            return until();
        }
    }
    return until();
}

bool ShowsPrompt(const TerminalScreen& screen) {
    return screen.Text().find(kPrompt) != std::string::npos;
}

struct PromptCase {
    const char* name;
    bool stdoutToTerminal;  // otherwise to a file
};

// The usage error (status 1) and a device's error (status 8, after the exchange began, so a line
// feed follows the key): the prompt shows, the key takes it away again.
TEST(KeyPrompt, ShowsWhileWaitingAndLeavesTheTranscript) {
    for (const PromptCase& c :
         {PromptCase{"output on the terminal", true}, PromptCase{"output in a file", false}}) {
        for (bool deviceError : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (deviceError ? ", device error" : ", usage"));
            TempDir dir;
            test_support::WriteFile(dir.File("image.bin"), "abc");
            DevsimSession device(kDevsim, dir, {"--status", "0=5"});
            SpawnOptions spawn;
            spawn.argv = {e2e::PortbootPath(), "image.bin"};
            if (deviceError) {
                spawn.argv.push_back(device.SlavePath());
            }
            spawn.workDir = dir.Path();
            spawn.extraEnv = {"LC_ALL=C.UTF-8"};
            spawn.controllingPty = true;
            spawn.stdoutToPty = c.stdoutToTerminal;
            spawn.stdoutPath = c.stdoutToTerminal ? "" : dir.File("out");
            spawn.ptyRows = kRows;
            spawn.ptyCols = kCols;
            spawn.timeLimit = 20s;
            Child portboot(spawn);
            TerminalScreen screen(kRows, kCols);
            ASSERT_TRUE(Pump(
                portboot, screen, [&] { return ShowsPrompt(screen); }, 10s))
                << "no prompt while waiting:\n"
                << screen.Text();
            ASSERT_TRUE(portboot.Running());
            ASSERT_EQ(write(portboot.PtyMaster(), "x", 1), 1);
            Pump(
                portboot, screen, [] { return false; }, 3s);
            const test_support::ExitInfo& exit = portboot.Wait();
            ASSERT_TRUE(exit.exited) << test_support::Describe(exit);
            EXPECT_EQ(exit.exitStatus, deviceError ? 8 : 1);

            const std::string transcript =
                deviceError ? expected::Info(dir.Path() + "/image.bin", device.SlavePath(), 57600,
                                             expected::kLoadFunction, 0, 3) +
                                  expected::kInit + expected::DeviceError(5) + "\n"
                            : std::string(expected::kUsage) + expected::kUsageNoteLinux + "\n";
            TerminalScreen shown(kRows, kCols);
            if (c.stdoutToTerminal) {
                shown.Feed(expected::AsOnTerminal(transcript));
            } else {
                EXPECT_EQ(test_support::ReadFile(dir.File("out")), transcript);
            }
            EXPECT_EQ(screen.Rows(), shown.Rows());
            int row = 0, col = 0, shownRow = 0, shownCol = 0;
            screen.Cursor(&row, &col);
            shown.Cursor(&shownRow, &shownCol);
            EXPECT_EQ(row, shownRow);
            EXPECT_EQ(col, shownCol);
            device.Stop();
        }
    }
}

// An unattended run in a terminal: with PORTBOOT_NO_KEY_WAIT set the error exit does not wait,
// and no prompt is shown.
TEST(KeyPrompt, EnvironmentVariableTurnsTheWaitOff) {
    TempDir dir;
    test_support::WriteFile(dir.File("image.bin"), "abc");
    SpawnOptions spawn;
    spawn.argv = {e2e::PortbootPath(), "image.bin"};
    spawn.workDir = dir.Path();
    spawn.extraEnv = {"LC_ALL=C.UTF-8", "PORTBOOT_NO_KEY_WAIT=1"};
    spawn.controllingPty = true;
    spawn.stdoutToPty = true;
    spawn.timeLimit = 10s;
    Child portboot(spawn);
    TerminalScreen screen(kRows, kCols);
    ASSERT_TRUE(portboot.WaitFor(3s)) << "waited for a key:\n" << screen.Text();
    Pump(
        portboot, screen, [] { return false; }, 500ms);
    const test_support::ExitInfo& exit = portboot.Wait();
    ASSERT_TRUE(exit.exited) << test_support::Describe(exit);
    EXPECT_EQ(exit.exitStatus, 1);
    EXPECT_FALSE(ShowsPrompt(screen)) << screen.Text();
}

}  // namespace
