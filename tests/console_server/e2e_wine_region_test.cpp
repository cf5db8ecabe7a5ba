// One rule for a region somebody made too small, at both Windows ends: under Wine, a mapping of
// 4096 bytes under the region's name is refused by CONPROXY.EXE (status 33, before its ready
// signal) and by the client library, with the same reason (short_region_check.exe, built with
// the Windows programs, makes the mapping and runs both).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "child_process.h"
#include "e2e_console_pair.h"

namespace {

// The Windows path of a file under Wine's Z: drive, which is the Linux root.
std::string WindowsPath(const std::string& path) {
    std::string windows = "Z:" + path;
    for (char& c : windows) {
        if (c == '/') {
            c = '\\';
        }
    }
    return windows;
}

TEST(WineRegion, ShortMappingIsRefusedByServerAndClientAlike) {
    const e2e::WineSetup wine = e2e::WineSetupFromBuild();
    const std::string suffix = "cpxshort" + std::to_string(getpid());
    test_support::SpawnOptions options;
    options.argv = {wine.wine, wine.programDir + "/short_region_check.exe",
                    WindowsPath(wine.programDir + "/CONPROXY.EXE"), suffix};
    options.extraEnv = wine.Environment();
    options.timeLimit = std::chrono::milliseconds(60000);
    test_support::Child check(options);
    const test_support::ExitInfo& exit = check.Wait();
    ASSERT_TRUE(exit.exited && exit.exitStatus == 0)
        << test_support::Describe(exit) << check.Stderr();
    const std::string reason = ": it has fewer than 8192 committed bytes";
    std::string printed = check.Stdout();
    printed.erase(std::remove(printed.begin(), printed.end(), '\r'), printed.end());
    EXPECT_EQ(printed, "server: exit 33\nclient: Mapping" + suffix + reason + "\n")
        << check.Stderr();
}

}  // namespace
