// portboot's progress view on a real terminal: a paced load with standard output on a
// pseudo-terminal, whose screen libvterm keeps. While the image crosses the line the view shows
// percent and bytes after "Загрузка кода ", redrawn at most about ten times a second; at the
// end the screen reads exactly as the transcript does (the view erased itself), at any width:
// where the whole view does not fit beside the label it shows the percent alone, or nothing.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "devsim_session.h"
#include "expected_texts.h"
#include "portboot_path.h"
#include "terminal_screen.h"

namespace {

using test_support::Child;
using test_support::DevsimSession;
using test_support::TempDir;
using test_support::TerminalScreen;

const std::string kDevsim = DEVSIM_PATH;
const std::string kPortboot = e2e::PortbootPath();
constexpr int kRows = 25;
constexpr long kImageBytes = 3000;  // 3.1 s at 9600 Bd
constexpr int kMaxUpdatesPerSecond = 10;
constexpr std::chrono::seconds kTimeLimit{20};

enum class Shown { Whole, PercentOnly, Nothing };

struct WidthCase {
    int cols;
    Shown shown;
};

std::ostream& operator<<(std::ostream& stream, const WidthCase& row) {
    return stream << row.cols << " columns";
}

class ProgressView : public ::testing::TestWithParam<WidthCase> {};

TEST_P(ProgressView, MovesWhileTheImageCrossesAndLeavesTheTranscript) {
    const WidthCase& row = GetParam();
    TempDir dir;
    test_support::WriteFile(dir.File("image.bin"), std::string(kImageBytes, '\x5a'));
    DevsimSession device(kDevsim, dir, {"--pace", "9600"});
    test_support::SpawnOptions spawn;
    spawn.argv = {kPortboot, "image.bin", "9600", device.SlavePath(), "L"};
    spawn.workDir = dir.Path();
    spawn.extraEnv = {"LC_ALL=C.UTF-8"};
    spawn.controllingPty = true;
    spawn.stdoutToPty = true;
    spawn.timeLimit = kTimeLimit;
    spawn.ptyRows = kRows;
    spawn.ptyCols = static_cast<unsigned short>(row.cols);
    Child portboot(spawn);

    TerminalScreen screen(kRows, row.cols);
    std::string raw;
    bool wholeSeen = false;
    bool percentSeen = false;
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        pollfd watch{portboot.PtyMaster(), POLLIN, 0};
        const int ready = poll(&watch, 1, 50);
        if (ready > 0) {
            char buffer[4096];
            const ssize_t got = read(portboot.PtyMaster(), buffer, sizeof buffer);
            if (got > 0) {
                raw.append(buffer, static_cast<std::size_t>(got));
                screen.Feed(buffer, static_cast<std::size_t>(got));
                for (const std::string& line : screen.Rows()) {
                    if (line.rfind("Загрузка кода ", 0) == 0 &&
                        line.find('%') != std::string::npos) {
                        percentSeen = true;
                        wholeSeen = wholeSeen || line.find("/3000") != std::string::npos;
                    }
                }
                continue;
            }
        }
        // A loader that stopped on an error sits in its key wait: Wait() below ends it.
        if (!portboot.Running() || std::chrono::steady_clock::now() - start > kTimeLimit) {
            break;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const test_support::ExitInfo& exit = portboot.Wait();
    ASSERT_TRUE(exit.exited) << test_support::Describe(exit);
    EXPECT_EQ(exit.exitStatus, 0);
    const long updates = std::count(raw.begin(), raw.end(), '%');
    if (row.shown == Shown::Nothing) {
        EXPECT_EQ(updates, 0) << raw;
    } else {
        EXPECT_TRUE(percentSeen) << raw;
        EXPECT_EQ(wholeSeen, row.shown == Shown::Whole) << raw;
        EXPECT_GE(updates, 3);
        EXPECT_LE(updates, static_cast<long>(seconds * kMaxUpdatesPerSecond) + 2)
            << seconds << " s";
    }

    const std::string transcript = "\nФайл " + dir.Path() + "/image.bin\nПорт " +
                                   device.SlavePath() +
                                   ":9600\nФункция загрузка\nТочка входа 0\nДлина файла 3000"
                                   "\nИнициализация \nЗагрузка кода \nКонец кода "
                                   "\nЗагрузка завершена\nСохранение кода \n";
    TerminalScreen expected(kRows, row.cols);
    expected.Feed(expected::AsOnTerminal(transcript));
    EXPECT_EQ(screen.Rows(), expected.Rows());
    EXPECT_EQ(device.Finish().fields["result"], "complete");
}

// "Загрузка кода " is 14 columns and "100% 3000/3000" 14 more; the view never takes the last
// column, where the cursor would wait to wrap.
const WidthCase kWidths[] = {
    {80, Shown::Whole},       {40, Shown::Whole},       {31, Shown::Whole},
    {29, Shown::Whole},       {28, Shown::PercentOnly}, {20, Shown::PercentOnly},
    {19, Shown::PercentOnly}, {18, Shown::Nothing},     {12, Shown::Nothing},
};

INSTANTIATE_TEST_SUITE_P(Widths, ProgressView, ::testing::ValuesIn(kWidths),
                         [](const auto& caseInfo) {
                             return std::to_string(caseInfo.param.cols) + "Columns";
                         });

}  // namespace
