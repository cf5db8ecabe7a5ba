// devsim itself, driven by a scripted host on its pseudo-terminal: a sound sequence is taken as
// complete, and each way a host can go wrong is named in the summary and the exit status, so a
// faulty loader cannot pass for a good one. The answers devsim sends are read back too.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "devsim_session.h"

namespace {

using test_support::DeviceRecord;
using test_support::DevsimSession;
using test_support::TempDir;

const std::string kDevsim = DEVSIM_PATH;
constexpr int kAnswerWaitMs = 1000;

using Bytes = std::vector<unsigned char>;

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

}  // namespace
