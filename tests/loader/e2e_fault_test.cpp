// portboot against a faulty device: devsim silent on one command, answering one with an error,
// answering late, cutting the line in the middle of the image, or babbling without pause.
// Each row checks the exit status, the whole transcript, what reached the device (nothing after
// the failed step), and that the run took no longer than its waits for a status allow.
// Rows that e2e_load_test already holds (silent DevInit and DevEndOfCode, errors on DevInit and
// DevSaveCode, the cut after 1000 image bytes) are not repeated here.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "devsim_session.h"

namespace {

using test_support::DeviceRecord;
using test_support::DevsimSession;
using test_support::TempDir;

const std::string kDevsim = DEVSIM_PATH;
const std::string kPortboot = PORTBOOT_PATH;
const char kImageName[] = "image.bin";

// The loader's wait for each status byte.
constexpr long kStatusTimeoutMs = 2000;
// Start-up, a loaded machine and sanitizer builds: what a step may take beyond its wait.
constexpr long kMarginMs = 3000;
constexpr std::chrono::seconds kRunTimeLimit{30};

const std::string kNoAnswer = "Нет ответа в течение таймаута\n";
const std::string kWriteFailed = "Ошибка записи в COM-порт, ошибка: ";
const std::string kReadFailed = "Ошибка чтения COM-порта, ошибка: ";
const std::string kInit = "\nИнициализация ";
const std::string kLoadCode = "\nЗагрузка кода ";
const std::string kEndOfCode = "\nКонец кода ";
const std::string kFinished = "\nЗагрузка завершена";
const std::string kSave = "\nСохранение кода ";
const std::string kExecute = "\nВыполнение ";

std::string DeviceError(unsigned status) {
    return "Ошибка QD7341: " + std::to_string(status) + "\n";
}

std::string MakeImage(long size) {
    std::string image;
    for (long i = 0; i < size; ++i) {
        image.push_back(static_cast<char>((i * 37 + 11) & 0xFF));
    }
    return image;
}

using Fields = std::map<std::string, std::string>;

struct FaultCase {
    const char* name;
    std::vector<std::string> devsimOptions;
    long imageSize;
    std::vector<std::string> modeArgs;  // after the file and the port
    int exitStatus;
    std::string function;  // as the information block names it
    unsigned entry;
    std::string tail;   // standard output after the information block
    bool tailIsPrefix;  // the tail ends in a system error code that is not fixed here
    bool complete;      // the device must have seen a whole, sound sequence
    Fields device;      // summary fields the device must report
    long minElapsedMs;
    long maxElapsedMs;
};

std::ostream& operator<<(std::ostream& stream, const FaultCase& row) {
    return stream << row.name;
}

std::string Info(const std::string& dir, const std::string& port, const FaultCase& row) {
    return "\nФайл " + dir + "/" + kImageName + "\nПорт " + port + ":57600\nФункция " +
           row.function + "\nТочка входа " + std::to_string(row.entry) + "\nДлина файла " +
           std::to_string(row.imageSize);
}

class FaultyDevice : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultyDevice, EndsWithItsStatusInTimeAndSendsNothingMore) {
    const FaultCase& row = GetParam();
    TempDir dir;
    const std::string image = MakeImage(row.imageSize);
    test_support::WriteFile(dir.File(kImageName), image);
    DevsimSession device(kDevsim, dir, row.devsimOptions);
    std::vector<std::string> args = {kImageName, device.SlavePath()};
    args.insert(args.end(), row.modeArgs.begin(), row.modeArgs.end());

    test_support::RunResult run =
        test_support::RunPortboot(kPortboot, dir.Path(), args, kRunTimeLimit);
    DeviceRecord received = row.complete ? device.Finish() : device.Stop();

    ASSERT_TRUE(run.exit.exited) << test_support::Describe(run.exit) << "\n" << run.out;
    EXPECT_EQ(run.exit.exitStatus, row.exitStatus) << run.out;
    std::string tail = row.tail;
    const std::size_t portAt = tail.find("{port}");
    if (portAt != std::string::npos) {
        tail.replace(portAt, 6, device.SlavePath());
    }
    const std::string expected = Info(dir.Path(), device.SlavePath(), row) + tail;
    if (row.tailIsPrefix) {
        EXPECT_EQ(run.out.substr(0, expected.size()), expected);
        // The system's error code and its line feed, the line that names the port and the
        // system's reason, and the stop's closing line feed.
        const std::size_t codeEnd = std::min(run.out.find('\n', expected.size()), run.out.size());
        const std::string rest = run.out.substr(codeEnd);
        const std::string note = "\nПорт " + device.SlavePath() + ": ";
        EXPECT_EQ(rest.substr(0, note.size()), note) << run.out;
        EXPECT_EQ(std::count(rest.begin(), rest.end(), '\n'), 3) << run.out;
        EXPECT_EQ(rest.substr(rest.size() - std::min<std::size_t>(rest.size(), 2)), "\n\n");
    } else {
        EXPECT_EQ(run.out, expected);
    }
    EXPECT_EQ(run.err, "");

    std::cout << "[ timing   ] " << row.name << ": " << run.exit.elapsed.count() << " ms\n";
    EXPECT_GE(run.exit.elapsed.count(), row.minElapsedMs);
    EXPECT_LT(run.exit.elapsed.count(), row.maxElapsedMs);

    for (const auto& [field, value] : row.device) {
        EXPECT_EQ(received.fields[field], value) << field << " in: " << received.summary;
    }
    if (row.complete) {
        EXPECT_EQ(received.fields["result"], "complete") << received.summary;
        EXPECT_TRUE(received.image == image) << "the device kept other bytes than the file's";
    }
}

// Waits that must run out: at least the whole wait, and not much more.
constexpr long kOneWaitMin = kStatusTimeoutMs - 50;
constexpr long kOneWaitMax = kStatusTimeoutMs + kMarginMs;
// Answers that come at once must not be waited for.
constexpr long kNoWaitMax = kStatusTimeoutMs;
// Four answers each 1800 ms late, every one inside its wait.
constexpr long kLateAnswerMs = 1800;
constexpr long kTooLateAnswerMs = 2300;

// clang-format off
const FaultCase kSilentCases[] = {
    {"SilentOnLoadCode", {"--silent", "1"}, 3, {"L"}, 7, "загрузка", 0,
     kInit + kLoadCode + kNoAnswer + "\n", false, false,
     {{"commands", "0:0,1:-"}, {"length", "none(0/4)"}, {"extra", "0"}}, kOneWaitMin, kOneWaitMax},
    {"SilentOnSaveCode", {"--silent", "4"}, 3, {"L", "7"}, 7, "загрузка", 7,
     kInit + kLoadCode + kEndOfCode + kFinished + kSave + kNoAnswer + "\n", false, false,
     {{"commands", "0:0,1:0,13:0,4:-"}, {"image", "4/4"}, {"entry", "none(0/2)"}, {"extra", "0"}},
     kOneWaitMin, kOneWaitMax},
    {"SilentOnExecute", {"--silent", "2"}, 4, {"R", "300"}, 7, "выполнение", 300,
     kInit + kLoadCode + kEndOfCode + kFinished + kExecute + kNoAnswer + "\n", false, false,
     {{"commands", "0:0,1:0,13:0,2:-"}, {"image", "4/4"}, {"entry", "none(0/2)"}, {"extra", "0"}},
     kOneWaitMin, kOneWaitMax},
};

const FaultCase kErrorCases[] = {
    {"ErrorOnLoadCode", {"--status", "1=1"}, 3, {"L"}, 8, "загрузка", 0,
     kInit + kLoadCode + DeviceError(1) + "\n", false, false,
     {{"commands", "0:0,1:1"}, {"length", "none(0/4)"}, {"extra", "0"}}, 0, kNoWaitMax},
    {"ErrorOnEndOfCode", {"--status", "13=128"}, 5, {"R"}, 8, "выполнение", 0,
     kInit + kLoadCode + kEndOfCode + DeviceError(128) + "\n", false, false,
     {{"commands", "0:0,1:0,13:128"}, {"image", "6/6"}, {"entry", "none(0/2)"}, {"extra", "0"}},
     0, kNoWaitMax},
    {"ErrorOnExecute", {"--status", "2=2"}, 2, {"R", "1"}, 8, "выполнение", 1,
     kInit + kLoadCode + kEndOfCode + kFinished + kExecute + DeviceError(2) + "\n", false, false,
     {{"commands", "0:0,1:0,13:0,2:2"}, {"entry", "none(0/2)"}, {"extra", "0"}}, 0, kNoWaitMax},
};

const FaultCase kTimingCases[] = {
    // Late, but inside every wait: a success, and it took the device's time.
    {"AnswersJustInsideTheWait", {"--delay-ms", std::to_string(kLateAnswerMs)}, 3, {"R", "9"}, 0,
     "выполнение", 9, kInit + kLoadCode + kEndOfCode + kFinished + kExecute + "\n", false, true,
     {{"commands", "0:0,1:0,13:0,2:0"}, {"entry", "9"}, {"extra", "0"}},
     4 * kLateAnswerMs, 4 * kStatusTimeoutMs + kMarginMs},
    // Past the wait: the first answer is given up on after the wait, not when it comes.
    {"AnswerJustOutsideTheWait", {"--delay-ms", std::to_string(kTooLateAnswerMs)}, 3, {"L"}, 7,
     "загрузка", 0, kInit + kNoAnswer + "\n", false, false,
     {{"commands", "0:0"}, {"length", "none(0/4)"}, {"extra", "0"}}, kOneWaitMin, kOneWaitMax},
};

// The line cut by the device while the loader still has image bytes to write: the next write
// fails at once (the kernel holds some tens of KiB, far less than the rest of these images).
const FaultCase kCutCases[] = {
    {"LineClosedAfterFirstImageByte", {"--close-after", "1"}, 65534, {"L"}, 9, "загрузка", 0,
     kInit + kLoadCode + kWriteFailed, true, false,
     {{"result", "closed"}, {"commands", "0:0,1:0"}, {"image", "1/65534"}}, 0, kNoWaitMax},
    {"LineClosedInTheMiddleOfTheImage", {"--close-after", "30000"}, 65534, {"R"}, 9,
     "выполнение", 0, kInit + kLoadCode + kWriteFailed, true, false,
     {{"result", "closed"}, {"commands", "0:0,1:0"}, {"image", "30000/65534"}}, 0, kNoWaitMax},
    // Cut after the loader had handed the whole image and DevEndOfCode to the kernel: nothing
    // is left to write, and the cut shows as the status read failing (EIO), which ends the load
    // as an unanswered command at once, told apart from silence by its error code.
    {"LineClosedAfterTheImageWasQueued", {"--close-after", "65533"}, 65534, {"R"}, 7,
     "выполнение", 0,
     kInit + kLoadCode + kEndOfCode + kReadFailed + "5\nПорт {port}: Input/output error\n\n", false,
     false,
     {{"result", "closed"}, {"commands", "0:0,1:0"}, {"image", "65533/65534"}}, 0, kNoWaitMax},
};

// A device that sends one byte value without pause. The loader reads one byte per command and
// clears nothing, so the first babbled byte is DevInit's status: non-zero ends the load at once;
// zero reads as success for every command, and the load goes through (the protocol cannot tell
// such a device from a sound one). Either way no wait runs out and nothing hangs.
const FaultCase kGarbageCases[] = {
    {"GarbageIsTakenAsAnErrorStatus", {"--garbage", "0x5a"}, 3, {"L"}, 8, "загрузка", 0,
     kInit + DeviceError(0x5a) + "\n", false, false,
     {{"commands", "0:-"}, {"length", "none(0/4)"}, {"extra", "0"}}, 0, kNoWaitMax},
    {"ZeroGarbageReadsAsSuccess", {"--garbage", "0"}, 65534, {"R", "2"}, 0, "выполнение", 2,
     kInit + kLoadCode + kEndOfCode + kFinished + kExecute + "\n", false, true,
     {{"commands", "0:-,1:-,13:-,2:-"}, {"entry", "2"}, {"extra", "0"}}, 0, kNoWaitMax},
};
// clang-format on

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
    const std::string tail = kEndOfCode + kNoAnswer + "\n";
    ASSERT_GE(run.out.size(), tail.size());
    EXPECT_EQ(run.out.substr(run.out.size() - tail.size()), tail);
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

auto RowName = [](const auto& caseInfo) { return std::string(caseInfo.param.name); };

INSTANTIATE_TEST_SUITE_P(Silent, FaultyDevice, ::testing::ValuesIn(kSilentCases), RowName);
INSTANTIATE_TEST_SUITE_P(DeviceError, FaultyDevice, ::testing::ValuesIn(kErrorCases), RowName);
INSTANTIATE_TEST_SUITE_P(Timing, FaultyDevice, ::testing::ValuesIn(kTimingCases), RowName);
INSTANTIATE_TEST_SUITE_P(LineCut, FaultyDevice, ::testing::ValuesIn(kCutCases), RowName);
INSTANTIATE_TEST_SUITE_P(Garbage, FaultyDevice, ::testing::ValuesIn(kGarbageCases), RowName);

}  // namespace
