// portboot against a faulty device: devsim silent on one command, answering one with an error,
// answering late, cutting the line in the middle of the image, or babbling without pause.
// The rows go through the one table's harness (e2e_run_table.h): the exit status, the whole
// transcript, what reached the device (nothing after the failed step), and that the run took no
// longer than its waits for a status allow. Rows that e2e_load_test already holds (silent
// DevInit and DevEndOfCode, errors on DevInit and DevSaveCode, the cut after 1000 image bytes)
// are not repeated here. Linux only, as are the two tests of the waits at the end.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "devsim_session.h"
#include "e2e_run_table.h"
#include "expected_texts.h"
#include "portboot_path.h"

namespace {

using namespace expected;
using e2e::Info;
using e2e::PortbootRun;
using e2e::RunCase;
using test_support::DeviceRecord;
using test_support::DevsimSession;
using test_support::TempDir;

const std::string kDevsim = DEVSIM_PATH;
const std::string kPortboot = e2e::PortbootPath();
const char kImageName[] = "image.bin";

// The loader's wait for each status byte.
constexpr int kStatusTimeoutMs = 2000;
// Start-up, a loaded machine and sanitizer builds: what a step may take beyond its wait.
constexpr int kMarginMs = 3000;
constexpr std::chrono::seconds kRunTimeLimit{30};

std::string MakeImage(long size) {
    std::string image;
    for (long i = 0; i < size; ++i) {
        image.push_back(static_cast<char>((i * 37 + 11) & 0xFF));
    }
    return image;
}

// Waits that must run out: at least the whole wait, and not much more.
constexpr int kOneWaitMin = kStatusTimeoutMs - 50;
constexpr int kOneWaitMax = kStatusTimeoutMs + kMarginMs;
// Answers that come at once must not be waited for.
constexpr int kNoWaitMax = kStatusTimeoutMs;
// Four answers each 1800 ms late, every one inside its wait.
constexpr int kLateAnswerMs = 1800;
constexpr int kTooLateAnswerMs = 2300;

// After a failed transfer: the system's error code, the line that names the port and the
// system's reason, and the stop's closing line feed.
const std::string kPortNoteLine = "\nПорт {port}: ";
const std::string kClosingLineFeeds = "\n\n";
// The line under "no answer" (at the default speed), as far as every machine prints it.
constexpr const char* kSilenceNote =
    "Порт {port}, 57600 бод: проверьте, что плата в режиме загрузки, скорость и кабель или адаптер";

// clang-format off
const RunCase kSilentCases[] = {
    {.name = "SilentOnLoadCode", .devsimOptions = {"--silent", "1"}, .args = {"{file}", "{port}", "L"},
     .exitStatus = 7, .out = Info(57600, kLoadFunction, 0, 3) + kInit + kLoadCode + kNoAnswer + "{note}\n",
     .device = {{"commands", "0:0,1:-"}, {"length", "none(0/4)"}, {"extra", "0"}},
     .minElapsedMs = kOneWaitMin, .maxElapsedMs = kOneWaitMax, .note = kSilenceNote},
    {.name = "SilentOnSaveCode", .devsimOptions = {"--silent", "4"}, .args = {"{file}", "{port}", "L", "7"},
     .exitStatus = 7,
     .out = Info(57600, kLoadFunction, 7, 3) + kInit + kLoadCode + kEndOfCode + kFinished + kSave + kNoAnswer + "{note}\n",
     .device = {{"commands", "0:0,1:0,13:0,4:-"}, {"image", "4/4"}, {"entry", "none(0/2)"}, {"extra", "0"}},
     .minElapsedMs = kOneWaitMin, .maxElapsedMs = kOneWaitMax, .note = kSilenceNote},
    {.name = "SilentOnExecute", .devsimOptions = {"--silent", "2"}, .imageSize = 4, .args = {"{file}", "{port}", "R", "300"},
     .exitStatus = 7,
     .out = Info(57600, kRunFunction, 300, 4) + kInit + kLoadCode + kEndOfCode + kFinished + kExecute + kNoAnswer + "{note}\n",
     .device = {{"commands", "0:0,1:0,13:0,2:-"}, {"image", "4/4"}, {"entry", "none(0/2)"}, {"extra", "0"}},
     .minElapsedMs = kOneWaitMin, .maxElapsedMs = kOneWaitMax, .note = kSilenceNote},
};

const RunCase kErrorCases[] = {
    {.name = "ErrorOnLoadCode", .devsimOptions = {"--status", "1=1"}, .args = {"{file}", "{port}", "L"},
     .exitStatus = 8, .out = Info(57600, kLoadFunction, 0, 3) + kInit + kLoadCode + DeviceError(1) + "\n",
     .device = {{"commands", "0:0,1:1"}, {"length", "none(0/4)"}, {"extra", "0"}}, .maxElapsedMs = kNoWaitMax},
    {.name = "ErrorOnEndOfCode", .devsimOptions = {"--status", "13=128"}, .imageSize = 5, .args = {"{file}", "{port}", "R"},
     .exitStatus = 8,
     .out = Info(57600, kRunFunction, 0, 5) + kInit + kLoadCode + kEndOfCode + DeviceError(128) + "\n",
     .device = {{"commands", "0:0,1:0,13:128"}, {"image", "6/6"}, {"entry", "none(0/2)"}, {"extra", "0"}},
     .maxElapsedMs = kNoWaitMax},
    {.name = "ErrorOnExecute", .devsimOptions = {"--status", "2=2"}, .imageSize = 2, .args = {"{file}", "{port}", "R", "1"},
     .exitStatus = 8,
     .out = Info(57600, kRunFunction, 1, 2) + kInit + kLoadCode + kEndOfCode + kFinished + kExecute + DeviceError(2) + "\n",
     .device = {{"commands", "0:0,1:0,13:0,2:2"}, {"entry", "none(0/2)"}, {"extra", "0"}}, .maxElapsedMs = kNoWaitMax},
};

const RunCase kTimingCases[] = {
    // Late, but inside every wait: a success, and it took the device's time.
    {.name = "AnswersJustInsideTheWait", .devsimOptions = {"--delay-ms", std::to_string(kLateAnswerMs)},
     .args = {"{file}", "{port}", "R", "9"}, .exitStatus = 0,
     .out = Info(57600, kRunFunction, 9, 3) + kRunTail, .deviceResult = "complete",
     .device = {{"commands", "0:0,1:0,13:0,2:0"}, {"entry", "9"}, {"extra", "0"}},
     .minElapsedMs = 4 * kLateAnswerMs, .maxElapsedMs = 4 * kStatusTimeoutMs + kMarginMs},
    // Past the wait: the first answer is given up on after the wait, not when it comes.
    {.name = "AnswerJustOutsideTheWait", .devsimOptions = {"--delay-ms", std::to_string(kTooLateAnswerMs)},
     .args = {"{file}", "{port}", "L"}, .exitStatus = 7,
     .out = Info(57600, kLoadFunction, 0, 3) + kInit + kNoAnswer + "{note}\n",
     .device = {{"commands", "0:0"}, {"length", "none(0/4)"}, {"extra", "0"}},
     .minElapsedMs = kOneWaitMin, .maxElapsedMs = kOneWaitMax, .note = kSilenceNote},
};

// The line cut by the device while the loader still has image bytes to write: the next write
// fails at once (the kernel holds some tens of KiB, far less than the rest of these images).
const RunCase kCutCases[] = {
    {.name = "LineClosedAfterFirstImageByte", .devsimOptions = {"--close-after", "1"}, .imageSize = 65534,
     .args = {"{file}", "{port}", "L"}, .exitStatus = 9,
     .out = Info(57600, kLoadFunction, 0, 65534) + kInit + kLoadCode + kWriteFailed, .outIsPrefix = true,
     .outAlso = kPortNoteLine, .outEnd = kClosingLineFeeds,
     .device = {{"result", "closed"}, {"commands", "0:0,1:0"}, {"image", "1/65534"}}, .maxElapsedMs = kNoWaitMax},
    {.name = "LineClosedInTheMiddleOfTheImage", .devsimOptions = {"--close-after", "30000"}, .imageSize = 65534,
     .args = {"{file}", "{port}", "R"}, .exitStatus = 9,
     .out = Info(57600, kRunFunction, 0, 65534) + kInit + kLoadCode + kWriteFailed, .outIsPrefix = true,
     .outAlso = kPortNoteLine, .outEnd = kClosingLineFeeds,
     .device = {{"result", "closed"}, {"commands", "0:0,1:0"}, {"image", "30000/65534"}}, .maxElapsedMs = kNoWaitMax},
    // Cut after the loader had handed the whole image and DevEndOfCode to the kernel: nothing
    // is left to write, and the cut shows as the status read failing (EIO), which ends the load
    // as an unanswered command at once, told apart from silence by its error code. The device
    // takes the bytes at the line's speed, as a real one does, so the last of the image is
    // still queued (some tens of KiB, about 0.2 s of line) when the loader writes DevEndOfCode;
    // an unpaced device could read it all first, and the cut then fails that write instead.
    {.name = "LineClosedAfterTheImageWasQueued",
     .devsimOptions = {"--close-after", "65533", "--pace", "921600"}, .imageSize = 65534,
     .args = {"{file}", "{port}", "921600", "R"}, .exitStatus = 7,
     .out = Info(921600, kRunFunction, 0, 65534) + kInit + kLoadCode + kEndOfCode + kReadFailed +
            "5\nПорт {port}: Input/output error\n\n",
     .device = {{"result", "closed"}, {"commands", "0:0,1:0"}, {"image", "65533/65534"}}, .maxElapsedMs = kNoWaitMax},
};

// A device that sends one byte value without pause. The loader reads one byte per command and
// clears nothing, so the first babbled byte is DevInit's status: non-zero ends the load at once;
// zero reads as success for every command, and the load goes through (the protocol cannot tell
// such a device from a sound one). Either way no wait runs out and nothing hangs.
const RunCase kGarbageCases[] = {
    {.name = "GarbageIsTakenAsAnErrorStatus", .devsimOptions = {"--garbage", "0x5a"},
     .args = {"{file}", "{port}", "L"}, .exitStatus = 8,
     .out = Info(57600, kLoadFunction, 0, 3) + kInit + DeviceError(0x5a) + "\n",
     .device = {{"commands", "0:-"}, {"length", "none(0/4)"}, {"extra", "0"}}, .maxElapsedMs = kNoWaitMax},
    {.name = "ZeroGarbageReadsAsSuccess", .devsimOptions = {"--garbage", "0"}, .imageSize = 65534,
     .args = {"{file}", "{port}", "R", "2"}, .exitStatus = 0,
     .out = Info(57600, kRunFunction, 2, 65534) + kRunTail, .deviceResult = "complete",
     .device = {{"commands", "0:-,1:-,13:-,2:-"}, {"entry", "2"}, {"extra", "0"}}, .maxElapsedMs = kNoWaitMax},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Silent, PortbootRun, ::testing::ValuesIn(kSilentCases), e2e::RowName);
INSTANTIATE_TEST_SUITE_P(DeviceError, PortbootRun, ::testing::ValuesIn(kErrorCases), e2e::RowName);
INSTANTIATE_TEST_SUITE_P(Timing, PortbootRun, ::testing::ValuesIn(kTimingCases), e2e::RowName);
INSTANTIATE_TEST_SUITE_P(LineCut, PortbootRun, ::testing::ValuesIn(kCutCases), e2e::RowName);
INSTANTIATE_TEST_SUITE_P(Garbage, PortbootRun, ::testing::ValuesIn(kGarbageCases), e2e::RowName);

// A device silent on DevEndOfCode after 6000 bytes at 9600 Bd: the kernel takes the image at
// once, but the loader gives up 2000 ms (within 10 %) after the line has carried it, not 2000 ms
// after it was queued.
TEST(PacedLine, NoAnswerIsTheWaitAfterTheImagesLineTime) {
    constexpr long kImageBytes = 6000;
    constexpr double kBaud = 9600;
    // Host bytes before the wait: DevInit, DevLoadCode, the length, the image, DevEndOfCode.
    constexpr double kLineMs = (2 + 4 + kImageBytes + 1) * 10 * 1000 / kBaud;
    // The loader's own start before its first byte; not part of the wait.
    constexpr long kStartUpMs = 250;
    TempDir dir;
    test_support::WriteFile(dir.File(kImageName), MakeImage(kImageBytes));
    DevsimSession device(kDevsim, dir, {"--pace", "9600", "--silent", "13"});
    const test_support::RunResult run = test_support::RunPortboot(
        kPortboot, dir.Path(), {kImageName, device.SlavePath(), "9600", "L"}, kRunTimeLimit);
    DeviceRecord received = device.Stop();
    ASSERT_TRUE(run.exit.exited) << test_support::Describe(run.exit);
    EXPECT_EQ(run.exit.exitStatus, 7);
    const std::string tail = kEndOfCode + kNoAnswer + kNoAnswerNotePort + device.SlavePath() +
                             ", 9600" + kNoAnswerNoteAdvice;
    EXPECT_NE(run.out.find(tail), std::string::npos) << run.out;
    EXPECT_EQ(run.out.substr(run.out.size() - 2), "\n\n") << run.out;
    EXPECT_EQ(received.fields["image"], "6000/6000") << received.summary;
    EXPECT_EQ(received.fields["commands"], "0:0,1:0,13:-") << received.summary;
    const double waitedMs = static_cast<double>(run.exit.elapsed.count()) - kLineMs;
    std::cout << "[ timing   ] line " << kLineMs << " ms, then " << waitedMs << " ms\n";
    EXPECT_GE(waitedMs, kStatusTimeoutMs * 0.9);
    EXPECT_LE(waitedMs, kStatusTimeoutMs * 1.1 + kStartUpMs);
}

// A loader that wakes late (a busy machine; here stopped 0.1 s into the load and continued 2.5 s
// later) reads the answer that came at 300 ms, in its wait, instead of reporting no answer.
TEST(LateWakeUp, AnswerThatCameInTimeIsRead) {
    TempDir dir;
    test_support::WriteFile(dir.File(kImageName), MakeImage(3));
    DevsimSession device(kDevsim, dir, {"--delay-ms", "300"});
    test_support::SpawnOptions spawn;
    spawn.argv = {kPortboot, kImageName, device.SlavePath(), "R"};
    spawn.extraEnv = {"LC_ALL=C.UTF-8"};
    spawn.workDir = dir.Path();
    spawn.timeLimit = kRunTimeLimit;
    test_support::Child portboot(spawn);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    portboot.Signal(SIGSTOP);
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    portboot.Signal(SIGCONT);
    const test_support::ExitInfo& exit = portboot.Wait();
    DeviceRecord received = device.Finish();
    ASSERT_TRUE(exit.exited) << test_support::Describe(exit);
    EXPECT_EQ(exit.exitStatus, 0) << portboot.Stdout();
    EXPECT_EQ(received.fields["result"], "complete") << received.summary;
}

}  // namespace
