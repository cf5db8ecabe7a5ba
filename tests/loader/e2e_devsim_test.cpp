// devsim itself, driven by a scripted host on its pseudo-terminal: a sound sequence is taken as
// complete, and each way a host can go wrong is named in the summary and the exit status, so a
// faulty loader cannot pass for a good one. The answers devsim sends are read back too.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "devsim_session.h"

namespace {

using test_support::DeviceRecord;
using test_support::DevsimSession;
using test_support::TempDir;

const std::string kDevsim = DEVSIM_PATH;
constexpr int kAnswerWaitMs = 1000;

using Bytes = std::vector<unsigned char>;

// Processor time a running process has used, from /proc.
long CpuMs(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    // After the name: state is field 3; utime and stime are fields 14 and 15.
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index >= 14) {
            ticks += std::stol(field);
        }
    }
    return ticks * 1000 / sysconf(_SC_CLK_TCK);
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// A sound sequence for the 3-byte image "abc" (one pad byte), saved, entry point 258.
const Bytes kStart = {0x00, 0x01, 0x00, 0x00, 0x00, 0x03, 'a', 'b', 'c', 0xEE};
const Bytes kSound = Join({kStart, {0x0D, 0x04, 0x01, 0x02}});

struct HostCase {
    const char* name;
    std::vector<std::string> options;
    Bytes hostSends;
    Bytes deviceAnswers;  // all the bytes the host finds waiting for it (read until this many)
    int exitStatus;
    std::string result;
    std::string field;  // one further summary field to check, "name=value"; "" = none
};

std::ostream& operator<<(std::ostream& stream, const HostCase& row) {
    return stream << row.name;
}

class DevsimAgainstHost : public ::testing::TestWithParam<HostCase> {};

TEST_P(DevsimAgainstHost, ReportsWhatTheHostSent) {
    const HostCase& row = GetParam();
    TempDir dir;
    std::vector<std::string> options = row.options;
    options.insert(options.end(), {"--idle-ms", "300"});
    DevsimSession device(kDevsim, dir, options, std::chrono::seconds(10));

    int host = open(device.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(host, 0);
    ssize_t written = write(host, row.hostSends.data(), row.hostSends.size());
    Bytes answers;
    pollfd watch{host, POLLIN, 0};
    unsigned char buffer[64];
    while (answers.size() < row.deviceAnswers.size() && poll(&watch, 1, kAnswerWaitMs) > 0) {
        ssize_t got = read(host, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        answers.insert(answers.end(), buffer, buffer + got);
    }
    DeviceRecord received = device.Finish();
    close(host);

    EXPECT_EQ(written, static_cast<ssize_t>(row.hostSends.size()));
    EXPECT_EQ(answers, row.deviceAnswers);
    ASSERT_TRUE(received.exit.exited) << test_support::Describe(received.exit);
    EXPECT_EQ(received.exit.exitStatus, row.exitStatus) << received.summary;
    EXPECT_EQ(received.fields["result"], row.result) << received.summary;
    if (!row.field.empty()) {
        std::size_t equals = row.field.find('=');
        EXPECT_EQ(received.fields[row.field.substr(0, equals)], row.field.substr(equals + 1))
            << received.summary;
    }
}

// clang-format off
const HostCase kHostCases[] = {
    {"SoundSequence", {}, kSound, {0, 0, 0, 0}, 0, "complete", "pad=0xee"},
    {"StatusesAsAsked", {"--status", "1=9", "--status", "0x0d=0xff"}, kSound, {0, 9, 0xFF, 0},
     0, "complete", "commands=0:0,1:9,13:255,4:0"},
    {"UnaskedByteComesFirst", {"--unasked", "0x42"}, kSound, {0x42, 0, 0, 0, 0},
     0, "complete", "entry=258"},
    // This host clears nothing, so it finds the stale byte in the line when it opens it.
    {"StaleByteWaitsInTheLine", {"--stale", "0x42"}, kSound, {0x42, 0, 0, 0, 0},
     0, "complete", "entry=258"},
    {"SilentCommandIsNotAnswered", {"--silent", "1"}, kSound, {0, 0, 0},
     0, "complete", "commands=0:0,1:-,13:0,4:0"},
    {"WrongFirstCommand", {}, {0x05}, {}, 3, "unexpected", "unexpected=0x05@init"},
    {"LengthZero", {}, {0x00, 0x01, 0x00, 0x00, 0x00, 0x00}, {0, 0},
     3, "unexpected", "unexpected=0x00@length"},
    {"LengthAboveLargestImage", {}, {0x00, 0x01, 0x00, 0x00, 0xFF, 0xFF}, {0, 0},
     3, "unexpected", "unexpected=0xff@length"},
    {"StopCommandInsteadOfSaveOrRun", {}, Join({kStart, {0x0D, 0x03}}), {0, 0, 0},
     3, "unexpected", "unexpected=0x03@saveorexecute"},
    {"BytesAfterTheEntryPoint", {}, Join({kSound, {0x99}}), {0, 0, 0, 0},
     3, "unexpected", "extra=1"},
    {"HostStopsEarly", {}, {0x00, 0x01, 0x00, 0x00}, {0, 0}, 2, "incomplete", "length=none(2/4)"},
    // A hang-up drops what the host had not read yet, so its answers are not looked for.
    {"LineCutMidImage", {"--close-after", "2"}, kSound, {}, 4, "closed", "image=2/4"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Devsim, DevsimAgainstHost, ::testing::ValuesIn(kHostCases),
                         [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

// Writes the whole sequence and reads the answers, as a host on the slave.
bool HostRuns(const std::string& slavePath, const Bytes& sends, std::size_t answers) {
    const int host = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (host < 0) {
        return false;
    }
    bool ok = write(host, sends.data(), sends.size()) == static_cast<ssize_t>(sends.size());
    std::size_t got = 0;
    while (ok && got < answers) {
        pollfd watch{host, POLLIN, 0};
        unsigned char buffer[16];
        const ssize_t n =
            poll(&watch, 1, kAnswerWaitMs) > 0 ? read(host, buffer, sizeof buffer) : 0;
        ok = n > 0;
        got += ok ? static_cast<std::size_t>(n) : 0;
    }
    close(host);
    return ok;
}

struct ProgramRun {
    test_support::ExitInfo exit;
    std::string out;
    std::string err;
};

ProgramRun RunProgram(const std::vector<std::string>& argv) {
    test_support::SpawnOptions spawn;
    spawn.argv = argv;
    spawn.extraEnv = {"LC_ALL=C.UTF-8"};
    test_support::Child child(spawn);
    ProgramRun run;
    run.exit = child.Wait();
    run.out = child.Stdout();
    run.err = child.Stderr();
    return run;
}

TEST(DevsimCommandLine, VersionHelpAndUnknownOptions) {
    const ProgramRun version = RunProgram({kDevsim, "--version"});
    EXPECT_TRUE(version.exit.exited && version.exit.exitStatus == 0);
    EXPECT_EQ(version.out, std::string("devsim ") + PROGRAM_VERSION + "\n");
    const ProgramRun help = RunProgram({kDevsim, "--help"});
    EXPECT_TRUE(help.exit.exited && help.exit.exitStatus == 0);
    EXPECT_EQ(help.out.rfind("usage: devsim", 0), 0u) << help.out;
    // Unknown with or without something after it: never "missing value".
    for (const std::vector<std::string>& argv :
         {std::vector<std::string>{kDevsim, "--frobnicate"},
          std::vector<std::string>{kDevsim, "--frobnicate", "3"}}) {
        const ProgramRun wrong = RunProgram(argv);
        EXPECT_TRUE(wrong.exit.exited && wrong.exit.exitStatus == 1);
        EXPECT_EQ(wrong.err.rfind("devsim: unknown option --frobnicate\n", 0), 0u) << wrong.err;
    }
}

// The time limit is the host's: however long devsim waited for it, a load that starts later
// gets the whole limit.
TEST(DevsimTimeLimit, CountsFromTheFirstByte) {
    TempDir dir;
    DevsimSession device(kDevsim, dir, {"--timeout-ms", "1000"}, std::chrono::seconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_TRUE(HostRuns(device.SlavePath(), kSound, 4));
    DeviceRecord received = device.Finish();
    EXPECT_EQ(received.fields["result"], "complete") << received.summary;
}

// devsim holds no descriptor on the slave, so a host that refuses a port in use finds the line
// free; between hosts it waits without spinning, and the next host's load goes through.
TEST(DevsimLine, WaitsForHostsWithoutHoldingTheLine) {
    TempDir dir;
    DevsimSession device(kDevsim, dir, {}, std::chrono::seconds(10));
    const int first = open(device.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(first, 0);
    close(first);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_LT(CpuMs(device.Process().Pid()), 300) << "spins while no host has the line";
    ASSERT_TRUE(HostRuns(device.SlavePath(), kSound, 4));
    DeviceRecord received = device.Finish();
    EXPECT_EQ(received.fields["result"], "complete") << received.summary;
}

}  // namespace
