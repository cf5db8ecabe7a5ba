// portboot end to end: the built program against devsim on a real pseudo-terminal.
// Each row runs one load and checks portboot's exit status and output byte for byte, and what
// the device received: the commands, the announced length, the image with its pad, the entry.
// The rows are written in the Linux form; under Wine, PORTBOOT.EXE must give the same statuses
// and bytes on the line (the Linux portboot is run on the same row to show it) and the same
// transcript in its platform's spelling.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "devsim_session.h"
#include "e2e_program.h"
#include "e2e_run_table.h"
#include "expected_texts.h"
#include "portboot_path.h"

namespace {

using namespace expected;
using e2e::Info;
using e2e::kNothingSent;
using e2e::PortbootRun;
using e2e::RunCase;
using test_support::Child;
using test_support::DeviceRecord;
using test_support::DevsimSession;
using test_support::TempDir;

const std::string kDevsim = DEVSIM_PATH;
const char kImageName[] = "image.bin";
const char kFifoName[] = "image.fifo";
const char kSubdirName[] = "image.dir";
// Every run ends well inside this, the slowest row (four answers 1500 ms late) included.
constexpr std::chrono::seconds kRunTimeLimit{20};
// Start-up and teardown (Wine's included) on a busy machine, on top of a row's own waiting.
constexpr long kStartUpAllowanceMs = 3000;

// Every byte value, CR, LF, XON, XOFF and Ctrl+C included, so a line that is not raw shows.
std::string MakeImage(long size) {
    std::string image;
    for (long i = 0; i < size; ++i) {
        image.push_back(static_cast<char>((i * 131 + 7) & 0xFF));
    }
    return image;
}

using Tokens = std::vector<std::pair<std::string, std::string>>;

std::string Fill(std::string text, const Tokens& tokens) {
    for (const auto& [token, value] : tokens) {
        for (std::size_t at = text.find(token); at != std::string::npos;
             at = text.find(token, at + value.size())) {
            text.replace(at, token.size(), value);
        }
    }
    return text;
}

struct RowRun {
    test_support::ExitInfo exit;
    std::string out;
    std::string err;
    DeviceRecord received;
    Tokens shown;  // how the program names the image's path and the port in its output
};

// out as expected, with the note line (if the program adds one) where "{note}" stands.
void ExpectOutWithNote(const e2e::PortbootProgram& program, const std::string& out,
                       const std::string& expected, const std::string& notePrefix,
                       int noteLines = 1) {
    const std::size_t at = expected.find("{note}");
    if (at == std::string::npos) {
        EXPECT_EQ(out, expected);
        return;
    }
    const std::string before = expected.substr(0, at);
    const std::string after = expected.substr(at + 6);
    if (!program.AddsPortNotes()) {
        EXPECT_EQ(out, before + after);
        return;
    }
    ASSERT_GE(out.size(), before.size() + after.size()) << out;
    EXPECT_EQ(out.substr(0, before.size()), before);
    EXPECT_EQ(out.substr(out.size() - after.size()), after);
    const std::string note = out.substr(before.size(), out.size() - before.size() - after.size());
    EXPECT_EQ(note.substr(0, notePrefix.size()), notePrefix) << out;
    EXPECT_EQ(std::count(note.begin(), note.end(), '\n'), noteLines) << note;
    EXPECT_EQ(note.back(), '\n') << note;
}

// The folder a row's program runs in.
std::string RunFolder(const RunCase& row, const TempDir& dir) {
    return *row.folder == '\0' ? dir.Path() : dir.File(row.folder);
}

// One load of the row by the program, against a devsim of its own; the image is already in the
// row's folder.
RowRun RunRow(const e2e::PortbootProgram& program, const RunCase& row, const TempDir& dir) {
    DevsimSession device(kDevsim, dir, row.devsimOptions);
    const std::string folder = RunFolder(row, dir);
    const Tokens argTokens = {{"{file}", row.imageName},
                              {"{port}", program.AttachPort(device.SlavePath())},
                              {"{absentport}", program.AbsentPortOption()},
                              {"{fifo}", kFifoName},
                              {"{subdir}", kSubdirName},
                              {"{abspath}", program.ShownImagePath(folder, row.imageName)},
                              {"{dir}", dir.Path()}};
    std::vector<std::string> args;
    for (const std::string& arg : row.args) {
        args.push_back(Fill(arg, argTokens));
    }
    test_support::SpawnOptions spawn = program.Spawn(args, folder, false);
    spawn.timeLimit = kRunTimeLimit;
    if (*row.locale != '\0') {
        spawn.extraEnv.push_back(std::string("LC_ALL=") + row.locale);
    }
    Child child(spawn);
    RowRun result;
    result.exit = child.Wait();
    result.out = child.Stdout();
    result.err = child.Stderr();
    result.received = row.deviceResult == "complete" ? device.Finish() : device.Stop();
    result.shown = {{"{path}", program.ShownImagePath(folder, row.imageName)},
                    {"{port}", program.ShownPortName(device.SlavePath())},
                    {"{emptyfile}", program.EmptyFileReason()},
                    {"{isdir}", program.DirectoryReason()},
                    {"{usagenote}", program.UsageNote()},
                    {"{absentport}", program.AbsentPortOption()}};
    return result;
}

TEST_P(PortbootRun, OutputExitStatusAndBytesOnTheLine) {
    const RunCase& row = GetParam();
    const e2e::PortbootProgram& program = e2e::ProgramUnderTest();
    if (row.needsPortPath && !program.NamesPortsByPath()) {
        GTEST_SKIP() << program.Name() << " names ports by a digit, before the mode letter";
    }
    if (row.linuxOnly && &program != &e2e::LinuxPortboot()) {
        GTEST_SKIP() << "a row for the Linux program";
    }
    TempDir dir;
    const std::string folder = RunFolder(row, dir);
    if (folder != dir.Path()) {
        ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    }
    for (const std::string& arg : row.args) {
        if (arg == "{fifo}") {
            // No writer ever comes: opening it must not block.
            ASSERT_EQ(mkfifo((folder + "/" + kFifoName).c_str(), 0600), 0);
        }
        if (arg == "{subdir}") {
            ASSERT_EQ(mkdir((folder + "/" + kSubdirName).c_str(), 0700), 0);
        }
    }
    std::string image = MakeImage(row.imageSize < 0 ? 0 : row.imageSize);
    if (row.imageSize >= 0) {
        test_support::WriteFile(folder + "/" + row.imageName, image);
    }
    RowRun run = RunRow(program, row, dir);
    DeviceRecord& received = run.received;
    bool complete = row.deviceResult == "complete";
    auto expect = [&](const std::string& text) {
        return program.PlatformText(Fill(text, run.shown));
    };

    ASSERT_TRUE(run.exit.exited) << test_support::Describe(run.exit) << "\n" << run.out;
    EXPECT_EQ(run.exit.exitStatus, row.exitStatus);
    std::string expectedOut = expect(row.out);
    if (row.outIsPrefix) {
        EXPECT_EQ(run.out.substr(0, expectedOut.size()), expectedOut);
        EXPECT_NE(run.out.find(expect(row.outAlso), expectedOut.size()), std::string::npos)
            << run.out;
        const std::string end = expect(row.outEnd);
        EXPECT_EQ(run.out.substr(run.out.size() - std::min(run.out.size(), end.size())), end)
            << run.out;
    } else {
        ExpectOutWithNote(program, run.out, expectedOut, Fill(row.note, run.shown), row.noteLines);
    }
    if (row.err.empty()) {
        EXPECT_EQ(run.err, "");
    } else {
        std::string expectedErr = expect(row.err);
        EXPECT_EQ(run.err.substr(0, expectedErr.size()), expectedErr) << run.err;
    }
    if (row.minElapsedMs > 0 || row.maxElapsedMs > 0) {
        std::cout << "[ timing   ] " << row.name << ": " << program.Name() << " ran "
                  << run.exit.elapsed.count() << " ms\n";
        EXPECT_GE(run.exit.elapsed.count(), row.minElapsedMs);
        // Nor much longer: a wait longer than the intended one shows here.
        EXPECT_LE(run.exit.elapsed.count(),
                  row.maxElapsedMs > 0 ? row.maxElapsedMs : row.minElapsedMs + kStartUpAllowanceMs);
    }

    if (!row.deviceResult.empty()) {
        EXPECT_EQ(received.fields["result"], row.deviceResult) << received.summary;
    }
    for (const auto& [field, value] : row.device) {
        EXPECT_EQ(received.fields[field], value) << field << " in: " << received.summary;
    }
    if (complete) {
        EXPECT_EQ(received.exit.exitStatus, 0) << test_support::Describe(received.exit);
        EXPECT_TRUE(received.image == image) << "the device kept other bytes than the file's";
        if (row.imageSize % 2 == 1) {
            EXPECT_EQ(received.fields["pad"].substr(0, 2), "0x") << received.summary;
        }
    }

    // The device must not be able to tell the two loaders apart: the same exit status, every
    // field of its summary (pad byte included) and the same image.
    if (&program != &e2e::LinuxPortboot()) {
        RowRun reference = RunRow(e2e::LinuxPortboot(), row, dir);
        ASSERT_TRUE(reference.exit.exited) << test_support::Describe(reference.exit);
        EXPECT_EQ(run.exit.exitStatus, reference.exit.exitStatus);
        EXPECT_EQ(received.summary, reference.received.summary);
        EXPECT_TRUE(received.image == reference.received.image)
            << "the device received another image from " << program.Name();
    }
}

// clang-format off
// Successful loads: the whole transcript, and exactly the right bytes on the line.
const RunCase kLoads[] = {
    {.name = "LoadModeOddImageIsPadded", .imageSize = 3, .args = {"{file}", "{port}", "L"}, .exitStatus = 0, .out = Info(57600, kLoadFunction, 0, 3) + kLoadTail, .deviceResult = "complete", .device = {{"commands", "0:0,1:0,13:0,4:0"}, {"length", "3"}, {"image", "4/4"}, {"entry", "0"}, {"extra", "0"}}},
    {.name = "RunModeSendsExecuteAndEntry258", .imageSize = 4, .args = {"{file}", "{port}", "R", "258"}, .exitStatus = 0, .out = Info(57600, kRunFunction, 258, 4) + kRunTail, .deviceResult = "complete", .device = {{"commands", "0:0,1:0,13:0,2:0"}, {"length", "4"}, {"image", "4/4"}, {"pad", "none"}, {"entry", "258"}, {"extra", "0"}}},
    {.name = "NoModeLoadsAndSendsEntryZero", .imageSize = 5, .args = {"{file}", "{port}"}, .exitStatus = 0, .out = Info(57600, kLoadFunction, 0, 5) + kLoadTail, .deviceResult = "complete", .device = {{"commands", "0:0,1:0,13:0,4:0"}, {"length", "5"}, {"image", "6/6"}, {"entry", "0"}, {"extra", "0"}}},
    {.name = "LargestImageWithPortAmongOptions", .imageSize = 65534, .args = {"{file}", "115200", "{port}", "L", "65534"}, .exitStatus = 0, .out = Info(115200, kLoadFunction, 65534, 65534) + kLoadTail, .deviceResult = "complete", .device = {{"length", "65534"}, {"image", "65534/65534"}, {"entry", "65534"}, {"extra", "0"}}},
    {.name = "PortLastLowerCaseRun", .imageSize = 1, .args = {"{file}", "9600", "r", "1", "{port}"}, .exitStatus = 0, .out = Info(9600, kRunFunction, 1, 1) + kRunTail, .deviceResult = "complete", .device = {{"commands", "0:0,1:0,13:0,2:0"}, {"length", "1"}, {"image", "2/2"}, {"entry", "1"}}, .needsPortPath = true},
    // A port left cooked (canonical, echo, CR/NL and flow-control characters): the host must
    // make it raw itself, or bytes of this image are changed, held back or answered by echo.
    {.name = "CookedLineIsMadeRaw", .devsimOptions = {"--cooked"}, .imageSize = 65534, .args = {"{file}", "{port}", "R", "4660"}, .exitStatus = 0, .out = Info(57600, kRunFunction, 4660, 65534) + kRunTail, .deviceResult = "complete", .device = {{"commands", "0:0,1:0,13:0,2:0"}, {"image", "65534/65534"}, {"entry", "4660"}, {"extra", "0"}}},
    // Once the line is set up the host clears nothing: an unasked 0 that comes after its first
    // command is taken as DevInit's status and every later answer shifts by one, which still
    // reads as success.
    {.name = "UnaskedZeroStillSucceeds", .devsimOptions = {"--unasked", "0"}, .imageSize = 6, .args = {"{file}", "{port}", "L"}, .exitStatus = 0, .out = Info(57600, kLoadFunction, 0, 6) + kLoadTail, .deviceResult = "complete", .device = {{"commands", "0:0,1:0,13:0,4:0"}, {"entry", "0"}, {"extra", "0"}}},
    // Answers that come late, but within the host's 2000 ms wait.
    {.name = "SlowAnswersWithinTheWait", .devsimOptions = {"--delay-ms", "1500"}, .imageSize = 2, .args = {"{file}", "{port}"}, .exitStatus = 0, .out = Info(57600, kLoadFunction, 0, 2) + kLoadTail, .deviceResult = "complete", .device = {{"commands", "0:0,1:0,13:0,4:0"}, {"entry", "0"}}, .minElapsedMs = 4 * 1500},
    // A device that takes bytes at line speed: the host's writes back up and must all arrive.
    // 65534 bytes of 10 bits at 460800 baud take 1.42 s.
    {.name = "PacedLineTakesLineTime", .devsimOptions = {"--pace", "460800"}, .imageSize = 65534, .args = {"{file}", "460800", "{port}", "R"}, .exitStatus = 0, .out = Info(460800, kRunFunction, 0, 65534) + kRunTail, .deviceResult = "complete", .device = {{"image", "65534/65534"}, {"entry", "0"}, {"extra", "0"}}, .minElapsedMs = 1400},
    // Slow lines: the kernel takes the whole image at once, yet it is 6.3 s (3.1 s) of line, and
    // the wait for the answer to DevEndOfCode counts from when the line has carried it.
    {.name = "Paced9600LoadOf6000Bytes", .devsimOptions = {"--pace", "9600"}, .imageSize = 6000, .args = {"{file}", "9600", "{port}", "L"}, .exitStatus = 0, .out = Info(9600, kLoadFunction, 0, 6000) + kLoadTail, .deviceResult = "complete", .device = {{"commands", "0:0,1:0,13:0,4:0"}, {"image", "6000/6000"}, {"entry", "0"}, {"extra", "0"}}, .minElapsedMs = 6200},
    {.name = "Paced19200RunOf6000Bytes", .devsimOptions = {"--pace", "19200"}, .imageSize = 6000, .args = {"{file}", "19200", "{port}", "R", "256"}, .exitStatus = 0, .out = Info(19200, kRunFunction, 256, 6000) + kRunTail, .deviceResult = "complete", .device = {{"commands", "0:0,1:0,13:0,2:0"}, {"image", "6000/6000"}, {"entry", "256"}, {"extra", "0"}}, .minElapsedMs = 3100},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Loads, PortbootRun, ::testing::ValuesIn(kLoads), e2e::RowName);

// clang-format off
// Every way the load stops, with its message and exit status, and what reached the device.
// Status 5 (no memory for the image) cannot be provoked honestly from outside the process.
const RunCase kFailures[] = {
    {.name = "UsageWithoutOptions", .imageSize = 3, .args = {"{file}"}, .exitStatus = 1, .out = std::string(kUsage) + "{usagenote}\n", .deviceResult = "incomplete", .device = kNothingSent},
    {.name = "RejectedOption", .imageSize = 3, .args = {"{file}", "{port}", "x"}, .exitStatus = 2, .out = kBadArgument + "3: 'x'\n", .deviceResult = "incomplete", .device = kNothingSent},
    // On Linux a line under the fixed text names the device, the reason and the ports there are.
    {.name = "PortCannotBeOpened", .imageSize = 3, .args = {"{file}", "{absentport}"}, .exitStatus = 3, .out = kPortOpenError + "2\n{note}", .deviceResult = "incomplete", .device = kNothingSent, .note = "Порт {absentport}: No such file or directory; "},
    {.name = "FileCannotBeOpened", .imageSize = -1, .args = {"{file}", "{port}"}, .exitStatus = 3, .out = "", .err = "image.bin: No such file or directory\n", .deviceResult = "incomplete", .device = kNothingSent},
    {.name = "FileTooLarge", .imageSize = 65535, .args = {"{file}", "{port}"}, .exitStatus = 4, .out = kTooLarge, .deviceResult = "incomplete", .device = kNothingSent},
    // Linux says what it met instead of "Success", the description of no error.
    {.name = "EmptyFileNotRead", .imageSize = 0, .args = {"{file}", "{port}"}, .exitStatus = 6, .out = "", .err = kNotLoaded + ": {emptyfile}\n", .deviceResult = "incomplete", .device = kNothingSent},
    // A directory has no bytes to load; Windows cannot open it as a file, nor does Linux.
    {.name = "DirectoryImageCannotBeOpened", .imageSize = 3, .args = {"{subdir}", "{port}"}, .exitStatus = 3, .out = "", .err = std::string(kSubdirName) + ": {isdir}\n", .deviceResult = "incomplete", .device = kNothingSent},
    {.name = "NoAnswerToInit", .devsimOptions = {"--silent", "0"}, .imageSize = 3, .args = {"{file}", "{port}"}, .exitStatus = 7, .out = Info(57600, kLoadFunction, 0, 3) + kInit + kNoAnswer + "{note}\n", .deviceResult = "incomplete", .device = {{"commands", "0:-"}, {"length", "none(0/4)"}, {"extra", "0"}}, .minElapsedMs = 1800, .note = "Порт {port}, 57600 бод: проверьте, что плата в режиме загрузки, скорость и кабель или адаптер"},
    {.name = "NoAnswerToEndOfCode", .devsimOptions = {"--silent", "13"}, .imageSize = 3, .args = {"{file}", "{port}", "R"}, .exitStatus = 7, .out = Info(57600, kRunFunction, 0, 3) + kInit + kLoadCode + kEndOfCode + kNoAnswer + "{note}\n", .deviceResult = "incomplete", .device = {{"commands", "0:0,1:0,13:-"}, {"image", "4/4"}, {"entry", "none(0/2)"}, {"extra", "0"}}, .minElapsedMs = 1800, .note = "Порт {port}, 57600 бод: проверьте, что плата в режиме загрузки, скорость и кабель или адаптер"},
    {.name = "DeviceErrorOnInit", .devsimOptions = {"--status", "0=5"}, .imageSize = 3, .args = {"{file}", "{port}"}, .exitStatus = 8, .out = Info(57600, kLoadFunction, 0, 3) + kInit + DeviceError(5) + "\n", .deviceResult = "incomplete", .device = {{"commands", "0:5"}, {"length", "none(0/4)"}, {"extra", "0"}}},
    {.name = "DeviceErrorOnSave", .devsimOptions = {"--status", "4=255"}, .imageSize = 2, .args = {"{file}", "{port}", "L", "10"}, .exitStatus = 8, .out = Info(57600, kLoadFunction, 10, 2) + kInit + kLoadCode + kEndOfCode + kFinished + kSave + DeviceError(255) + "\n", .deviceResult = "incomplete", .device = {{"commands", "0:0,1:0,13:0,4:255"}, {"image", "2/2"}, {"entry", "none(0/2)"}}},
    // A byte in the line before the load (a board's banner) is no status: had it been taken
    // for DevInit's, every answer would shift by one and the refused save would read as 0.
    {.name = "StaleZeroIsNoStatus", .devsimOptions = {"--stale", "0", "--status", "4=7"}, .imageSize = 3, .args = {"{file}", "{port}"}, .exitStatus = 8, .out = Info(57600, kLoadFunction, 0, 3) + kInit + kLoadCode + kEndOfCode + kFinished + kSave + DeviceError(7) + "\n", .deviceResult = "incomplete", .device = {{"commands", "0:0,1:0,13:0,4:7"}, {"image", "4/4"}, {"entry", "none(0/2)"}}},
    // A byte sent after the host's first command, ahead of the answer, is read as its status.
    {.name = "UnaskedByteTakenAsInitStatus", .devsimOptions = {"--unasked", "7"}, .imageSize = 3, .args = {"{file}", "{port}"}, .exitStatus = 8, .out = Info(57600, kLoadFunction, 0, 3) + kInit + DeviceError(7) + "\n", .deviceResult = "incomplete", .device = {{"commands", "0:0"}, {"length", "none(0/4)"}, {"extra", "0"}}},
    // Only a regular file has a length to load: a FIFO or a device is refused at once, as a file
    // whose length cannot be found, and a FIFO with no writer must not block the open.
    {.name = "FifoImageIsRefused", .imageSize = 3, .args = {"{fifo}", "{port}"}, .exitStatus = 4, .out = kTooLarge, .deviceResult = "incomplete", .device = kNothingSent, .linuxOnly = true},
    {.name = "DeviceNodeImageIsRefused", .imageSize = 3, .args = {"/dev/null", "{port}"}, .exitStatus = 4, .out = kTooLarge, .deviceResult = "incomplete", .device = kNothingSent, .linuxOnly = true},
    {.name = "PortZeroNamesNoDevice", .imageSize = 3, .args = {"{file}", "0"}, .exitStatus = 3, .out = kPortOpenError + "2\n{note}", .deviceResult = "incomplete", .device = kNothingSent, .linuxOnly = true, .note = "Порт COM0: No such file or directory; "},
    // The line goes away mid-image: a write failure, not a hang and not a success.
    {.name = "LineClosedMidImage", .devsimOptions = {"--close-after", "1000"}, .imageSize = 65534, .args = {"{file}", "{port}"}, .exitStatus = 9, .out = Info(57600, kLoadFunction, 0, 65534) + kInit + kLoadCode, .outIsPrefix = true, .outAlso = kWriteFailed, .deviceResult = "closed", .device = {{"commands", "0:0,1:0"}, {"image", "1000/65534"}}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Failures, PortbootRun, ::testing::ValuesIn(kFailures), e2e::RowName);

// clang-format off
// The command line as the program receives it: what one option means depends on where it
// stands, and the first rejected one is named with its place. A bad option stops the program
// before it touches the port or the file.
const RunCase kCommandLine[] = {
    {.name = "SecondPortDigit", .imageSize = 3, .args = {"{file}", "5", "7"}, .exitStatus = 2, .out = kBadArgument + "3: '7'\n", .deviceResult = "incomplete", .device = kNothingSent},
    // The texts are UTF-8 in the C locale too.
    {.name = "UsageInTheCLocale", .imageSize = 3, .args = {"{file}"}, .exitStatus = 1, .out = std::string(kUsage) + "{usagenote}\n", .deviceResult = "incomplete", .device = kNothingSent, .linuxOnly = true, .locale = "C"},
    {.name = "NoNumberInTheCLocale", .imageSize = 3, .args = {"{file}", "x", "7"}, .exitStatus = 2, .out = kBadArgument + "2: 'x'\n", .deviceResult = "incomplete", .device = kNothingSent, .linuxOnly = true, .locale = "C"},
    {.name = "BaudBelowRange", .imageSize = 3, .args = {"{file}", "9599"}, .exitStatus = 2, .out = kBadArgument + "2: '9599'\n", .deviceResult = "incomplete", .device = kNothingSent},
    {.name = "BaudAboveRange", .imageSize = 3, .args = {"{file}", "{port}", "921601"}, .exitStatus = 2, .out = kBadArgument + "3: '921601'\n", .deviceResult = "incomplete", .device = kNothingSent},
    {.name = "NeitherPortNorBaud", .imageSize = 3, .args = {"{file}", "10"}, .exitStatus = 2, .out = kBadArgument + "2: '10'\n", .deviceResult = "incomplete", .device = kNothingSent},
    {.name = "NegativeWrapsAboveEveryRange", .imageSize = 3, .args = {"{file}", "-5"}, .exitStatus = 2, .out = kBadArgument + "2: '-5'\n", .deviceResult = "incomplete", .device = kNothingSent},
    {.name = "EntryAboveLargest", .imageSize = 3, .args = {"{file}", "R", "65535"}, .exitStatus = 2, .out = kBadArgument + "3: '65535'\n", .deviceResult = "incomplete", .device = kNothingSent},
    {.name = "ModeTwice", .imageSize = 3, .args = {"{file}", "R", "l"}, .exitStatus = 2, .out = kBadArgument + "3: 'l'\n", .deviceResult = "incomplete", .device = kNothingSent},
    {.name = "EntryTwiceLaterOnesUnread", .imageSize = 3, .args = {"{file}", "L", "3", "4", "x"}, .exitStatus = 2, .out = kBadArgument + "4: '4'\n", .deviceResult = "incomplete", .device = kNothingSent},
    // Only the leading number counts, and a digit after the mode letter is the entry point.
    // On Linux a line before the load names each option whose tail was left unread.
    {.name = "NumbersWithTailsAndLowerCaseMode", .imageSize = 3, .args = {"{file}", "9600baud", "{port}", "l", "3x"}, .exitStatus = 0, .out = "{note}" + Info(9600, kLoadFunction, 3, 3) + kLoadTail, .deviceResult = "complete", .device = {{"commands", "0:0,1:0,13:0,4:0"}, {"length", "3"}, {"entry", "3"}, {"extra", "0"}}, .note = "Параметр 2: '9600baud' прочитан как 9600\nПараметр 5: '3x' прочитан как 3\n", .noteLines = 2},
    // "0x100" is 0 with its tail unread, and a tail that could drive the terminal is escaped.
    {.name = "HexEntryReadAsZeroIsNamed", .imageSize = 3, .args = {"{file}", "{port}", "R", "0x100"}, .exitStatus = 0, .out = "{note}" + Info(57600, kRunFunction, 0, 3) + kRunTail, .deviceResult = "complete", .device = {{"entry", "0"}}, .note = "Параметр 4: '0x100' прочитан как 0\n"},
    {.name = "TailWithControlsIsEscaped", .imageSize = 3, .args = {"{file}", "{port}", "9600\x1b]2;x\x07\xc2\x9b\\"}, .exitStatus = 0, .out = "{note}" + Info(9600, kLoadFunction, 0, 3) + kLoadTail, .deviceResult = "complete", .device = {{"entry", "0"}}, .linuxOnly = true, .note = "Параметр 3: '9600\\x1B]2;x\\x07\\xC2\\x9B\\\\' прочитан как 9600\n"},
    // Names that are not the program's own (the file, the folder, a rejected option) are shown
    // in the console's encoding as the texts are: on Windows the OEM code page, not the ANSI one
    // they come in.
    {.name = "CyrillicFolderAndFile", .imageSize = 3, .imageName = "образ.bin", .folder = "папка", .args = {"{file}", "{port}"}, .exitStatus = 0, .out = Info(57600, kLoadFunction, 0, 3) + kLoadTail, .deviceResult = "complete", .device = {{"length", "3"}, {"extra", "0"}}},
    {.name = "CyrillicFileMissing", .imageSize = -1, .imageName = "нет.bin", .args = {"{file}", "{port}"}, .exitStatus = 3, .out = "", .err = "нет.bin: No such file or directory\n", .deviceResult = "incomplete", .device = kNothingSent},
    {.name = "CyrillicOptionRejected", .imageSize = 3, .args = {"{file}", "{port}", "Ж"}, .exitStatus = 2, .out = kBadArgument + "3: 'Ж'\n", .deviceResult = "incomplete", .device = kNothingSent},
    // A name with its own directory is shown as it was typed, without the current one before it.
    {.name = "AbsoluteImagePathShownOnce", .imageSize = 3, .args = {"{abspath}", "{port}"}, .exitStatus = 0, .out = Info(57600, kLoadFunction, 0, 3) + kLoadTail, .deviceResult = "complete", .device = {{"length", "3"}, {"extra", "0"}}},
    {.name = "LargestBaudAndEntry", .imageSize = 2, .args = {"{file}", "921600", "{port}", "r", "65534"}, .exitStatus = 0, .out = Info(921600, kRunFunction, 65534, 2) + kRunTail, .deviceResult = "complete", .device = {{"commands", "0:0,1:0,13:0,2:0"}, {"entry", "65534"}, {"extra", "0"}}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(CommandLine, PortbootRun, ::testing::ValuesIn(kCommandLine), e2e::RowName);

// "/" and a path names the port on Linux; where ports have no paths it is an option without a
// leading number, refused as such (and never opened as a port).
TEST(PortbootCommandLine, SlashOptionIsAPathOnlyWherePortsHavePaths) {
    const e2e::PortbootProgram& program = e2e::ProgramUnderTest();
    for (const std::string option : {"/x", "/?"}) {
        SCOPED_TRACE(option);
        TempDir dir;
        test_support::WriteFile(dir.File(kImageName), MakeImage(3));
        test_support::SpawnOptions spawn = program.Spawn({kImageName, option}, dir.Path(), false);
        spawn.timeLimit = kRunTimeLimit;
        Child child(spawn);
        const test_support::ExitInfo& exit = child.Wait();
        ASSERT_TRUE(exit.exited) << test_support::Describe(exit);
        if (program.NamesPortsByPath()) {
            EXPECT_EQ(exit.exitStatus, 3);
            ExpectOutWithNote(program, child.Stdout(),
                              program.PlatformText(kPortOpenError + "2\n{note}"),
                              "Порт " + option + ": No such file or directory; ");
        } else {
            EXPECT_EQ(exit.exitStatus, 2);
            EXPECT_EQ(child.Stdout(), program.PlatformText(kBadArgument + "2: '" + option + "'\n"));
        }
        EXPECT_EQ(child.Stderr(), "");
    }
}

// A second loader on a line that is in use must be kept out (as root too, where the exclusive
// tty mode does not stop a second open), or its bytes would mix with the first one's load.
TEST(PortbootPort, SecondLoaderIsKeptOut) {
    const e2e::PortbootProgram& program = e2e::ProgramUnderTest();
    if (!program.KeepsSecondLoaderOut()) {
        GTEST_SKIP() << program.Name() << " opens the port unshared; Wine does not enforce it";
    }
    TempDir dir;
    test_support::WriteFile(dir.File(kImageName), MakeImage(3));
    // Silent on DevInit, so the first loader holds the line for its 2000 ms wait.
    DevsimSession device(kDevsim, dir, {"--silent", "0"});
    std::string port = program.AttachPort(device.SlavePath());
    test_support::SpawnOptions first = program.Spawn({kImageName, port}, dir.Path(), false);
    first.timeLimit = kRunTimeLimit;
    Child firstLoader(first);
    // Time for the first loader (and Wine under it) to open the line; well inside its wait.
    std::this_thread::sleep_for(std::chrono::milliseconds(900));

    test_support::SpawnOptions second = program.Spawn({kImageName, port}, dir.Path(), false);
    second.timeLimit = kRunTimeLimit;
    Child secondLoader(second);
    const test_support::ExitInfo& secondExit = secondLoader.Wait();
    const test_support::ExitInfo& firstExit = firstLoader.Wait();
    DeviceRecord received = device.Stop();

    ASSERT_TRUE(secondExit.exited) << test_support::Describe(secondExit);
    EXPECT_EQ(secondExit.exitStatus, 3);
    const std::string refused = program.PlatformText(kPortOpenError);
    EXPECT_EQ(secondLoader.Stdout().substr(0, refused.size()), refused) << secondLoader.Stdout();
    EXPECT_TRUE(firstExit.exited && firstExit.exitStatus == 7) << test_support::Describe(firstExit);
    EXPECT_EQ(received.fields["commands"], "0:-") << received.summary;
    EXPECT_EQ(received.fields["length"], "none(0/4)") << received.summary;
}

}  // namespace

namespace {

bool IsLinuxProgram() {
    return &e2e::ProgramUnderTest() == &e2e::LinuxPortboot();
}

// A serial terminal left open on the line would read the device's answers: the port is refused
// at once, and the line under the fixed text names the holder.
TEST(PortbootPort, PortAnotherProgramHoldsIsRefusedAndTheHolderNamed) {
    if (!IsLinuxProgram()) {
        GTEST_SKIP() << "the holder is looked for on Linux";
    }
    TempDir dir;
    test_support::WriteFile(dir.File(kImageName), MakeImage(3));
    DevsimSession device(kDevsim, dir, {});
    test_support::SpawnOptions holderSpawn;
    holderSpawn.argv = {"/bin/sleep", "30"};
    holderSpawn.stdinPath = device.SlavePath();
    Child holder(holderSpawn);
    // The holder has its line open once it runs sleep (the launcher opens it before the exec).
    for (int tries = 0;
         tries < 200 &&
         test_support::ReadFile("/proc/" + std::to_string(holder.Pid()) + "/comm") != "sleep\n";
         ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const test_support::RunResult run = test_support::RunPortboot(
        e2e::PortbootPath(), dir.Path(), {kImageName, device.SlavePath()}, kRunTimeLimit);
    DeviceRecord received = device.Stop();
    ASSERT_TRUE(run.exit.exited) << test_support::Describe(run.exit);
    EXPECT_EQ(run.exit.exitStatus, 3);
    EXPECT_EQ(run.out, kPortOpenError + "16\nПорт " + device.SlavePath() + " занят: процесс " +
                           std::to_string(holder.Pid()) + " (sleep)\n");
    EXPECT_EQ(received.fields["commands"], "none") << received.summary;
}

// The image's name flipped between a file and a FIFO while the loader runs: what is checked is
// what is opened, so the loader never blocks on the FIFO. Both are refused (the file is too large).
TEST(PortbootImage, NameFlippedToAFifoNeverBlocks) {
    if (!IsLinuxProgram()) {
        GTEST_SKIP() << "FIFOs are a Linux file kind";
    }
    constexpr int kRuns =
        150;  // on a loader that checks one file and opens another, about 1 in 30 blocks
    TempDir dir;
    test_support::WriteFile(dir.File("large"), MakeImage(70000));
    DevsimSession device(kDevsim, dir, {}, std::chrono::seconds(120));
    std::atomic<bool> flipping{true};
    std::thread flipper([&] {
        const std::string image = dir.File(kImageName);
        while (flipping) {
            mkfifo(dir.File("fifo").c_str(), 0600);
            rename(dir.File("fifo").c_str(), image.c_str());
            link(dir.File("large").c_str(), dir.File("file").c_str());
            rename(dir.File("file").c_str(), image.c_str());
        }
    });
    int blocked = 0;
    for (int run = 0; run < kRuns; ++run) {
        const test_support::RunResult result =
            test_support::RunPortboot(e2e::PortbootPath(), dir.Path(),
                                      {kImageName, device.SlavePath()}, std::chrono::seconds(3));
        blocked += result.exit.timedOut ? 1 : 0;
        EXPECT_TRUE(result.exit.timedOut || result.exit.exitStatus == 4)
            << test_support::Describe(result.exit) << result.out;
    }
    flipping = false;
    flipper.join();
    EXPECT_EQ(blocked, 0) << "runs that blocked in the image's open";
    EXPECT_EQ(device.Stop().fields["commands"], "none");
}

// The Windows forms of a name that carries its own root or drive are shown as typed: from the
// current drive's root, relative to a drive's own directory, and the \\?\ form of a server path.
TEST(PortbootImage, WindowsNamesWithTheirOwnRootOrDriveShownAsTyped) {
    const e2e::PortbootProgram& program = e2e::ProgramUnderTest();
    if (IsLinuxProgram()) {
        GTEST_SKIP() << "Windows path forms";
    }
    TempDir dir;
    test_support::WriteFile(dir.File(kImageName), MakeImage(3));
    // The folder as Windows names it, without its drive: Wine shows Unix paths on drive Z:.
    const std::string absolute = program.ShownImagePath(dir.Path(), kImageName);
    ASSERT_EQ(absolute.substr(0, 2), "Z:");
    for (const std::string& name :
         {absolute.substr(2), std::string("Z:") + kImageName, "\\\\?\\" + absolute}) {
        SCOPED_TRACE(name);
        DevsimSession device(kDevsim, dir, {});
        const std::string port = program.AttachPort(device.SlavePath());
        test_support::SpawnOptions spawn = program.Spawn({name, port}, dir.Path(), false);
        spawn.timeLimit = kRunTimeLimit;
        Child child(spawn);
        const test_support::ExitInfo& exit = child.Wait();
        device.Finish();
        ASSERT_TRUE(exit.exited) << test_support::Describe(exit);
        EXPECT_EQ(exit.exitStatus, 0) << child.Stdout() << child.Stderr();
        const std::string shown = program.PlatformText("\nФайл " + name + "\n");
        EXPECT_EQ(child.Stdout().substr(0, shown.size()), shown);
    }
}

// --version and --help on Linux, to standard output with status 0; the Windows program keeps
// its command line, where such an argument is an image's name without options (the usage).
TEST(PortbootCommandLine, VersionAndHelp) {
    const e2e::PortbootProgram& program = e2e::ProgramUnderTest();
    for (const std::string option : {"--version", "--help"}) {
        SCOPED_TRACE(option);
        TempDir dir;
        test_support::SpawnOptions spawn = program.Spawn({option}, dir.Path(), false);
        spawn.timeLimit = kRunTimeLimit;
        Child child(spawn);
        const test_support::ExitInfo& exit = child.Wait();
        ASSERT_TRUE(exit.exited) << test_support::Describe(exit);
        if (!IsLinuxProgram()) {
            EXPECT_EQ(exit.exitStatus, 1);
            EXPECT_EQ(child.Stdout(), program.PlatformText(std::string(kUsage) + "\n"));
            continue;
        }
        EXPECT_EQ(exit.exitStatus, 0);
        EXPECT_EQ(child.Stdout(), option == "--version"
                                      ? std::string("portboot ") + PROGRAM_VERSION + "\n"
                                      : std::string(kUsage) + kUsageNoteLinux + "\n");
        EXPECT_EQ(child.Stderr(), "");
    }
}

}  // namespace
