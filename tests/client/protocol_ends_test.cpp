// The two ends of the protocol decide alike: each set of names is accepted, or refused, by the
// client library and by conproxy both; and a /dev/shm too full to hold an object's pages is a
// reported failure at the client end as it is at the server's (an error line, a failure status,
// the names it made removed), never SIGBUS.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "child_process.h"
#include "conproxy_client.h"
#include "conproxy_protocol.h"

namespace {

using conclient::ConproxyClient;
using conclient::WaitResult;
using conproxy_protocol::RegionName;

constexpr int kReadyWaitMs = 10000;
constexpr int kStartupFailed = 33;
constexpr int kConclientNoServer = 1;

// A stem unique to this test process, padded with 'n' to the given length when asked.
std::string Stem(const char* what, size_t length = 0) {
    static int counter = 0;
    std::string stem = std::string("cpxproto_") + what + std::to_string(getpid()) + "_" +
                       std::to_string(++counter);
    if (stem.size() < length) {
        stem.append(length - stem.size(), 'n');
    }
    return stem;
}

// Unlike e2e::ShmExists, a name no object can have (with a slash, or too long) is no object.
bool NameExists(const std::string& name) {
    const int fd = shm_open(("/" + name).c_str(), O_RDONLY, 0);
    if (fd < 0) {
        return false;
    }
    close(fd);
    return true;
}

// conproxy on the names, through the tests' launcher; no terminal, so nothing to take.
test_support::SpawnOptions ServerOn(const conclient::ClientNames& names) {
    test_support::SpawnOptions options;
    options.argv = conproxy_protocol::ServerArguments(
        CONPROXY_PATH, {names.suffix, names.requestEvent, names.replyEvent});
    options.timeLimit = std::chrono::milliseconds(20000);
    return options;
}

struct NameCase {
    const char* what;
    conclient::ClientNames names;
    bool accepted;
};

std::vector<NameCase> NameCases() {
    const std::string a = Stem("a");
    const std::string event72 = Stem("r");
    return {
        {"a backslash in the suffix", {a + "\\s", a + "_req", a + "_rep"}, true},
        {"a backslash in each event", {a + "b", a + "\\req", a + "\\rep"}, true},
        {"a suffix of 72 characters", {Stem("s", 72), a + "c_req", a + "c_rep"}, true},
        {"an event name of 250 bytes", {a + "d", Stem("q", 250), a + "d_rep"}, true},
        {"a suffix of 73 characters", {Stem("s", 73), a + "e_req", a + "e_rep"}, false},
        {"an empty request event", {a + "f", "", a + "f_rep"}, false},
        {"one name for both events", {a + "g", a + "g_ev", a + "g_ev"}, false},
        {"the reply named as the region", {a + "h", a + "h_req", RegionName(a + "h")}, false},
        {"a slash in an event", {a + "i", a + "i/req", a + "i_rep"}, false},
        {"an event name of 251 bytes", {a + "j", Stem("q", 251), a + "j_rep"}, false},
    };
}

TEST(ProtocolEnds, NamesAreAcceptedOrRefusedAlikeByClientAndServer) {
    for (const NameCase& c : NameCases()) {
        SCOPED_TRACE(c.what);
        const conclient::ClientNames& names = c.names;
        {
            ConproxyClient client;
            std::string error;
            const bool opened = client.Open(names, &error);
            EXPECT_EQ(opened, c.accepted) << error;
            if (opened) {
                // The server serves on the same names: ready, then ended by command 2.
                test_support::Child server(ServerOn(names));
                ASSERT_EQ(client.WaitReady(kReadyWaitMs), WaitResult::kReplied) << server.Stderr();
                int32_t status = -1;
                EXPECT_EQ(client.Exit(&status), WaitResult::kReplied);
                const test_support::ExitInfo& exit = server.Wait();
                EXPECT_TRUE(exit.exited && exit.exitStatus == 0) << test_support::Describe(exit);
            } else {
                EXPECT_FALSE(error.empty());
            }
        }
        if (!c.accepted) {
            test_support::Child server(ServerOn(names));
            const test_support::ExitInfo& exit = server.Wait();
            EXPECT_TRUE(exit.exited && exit.exitStatus == kStartupFailed)
                << test_support::Describe(exit) << " " << server.Stderr();
        }
        // Neither end leaves a name behind, whether it made it or refused it.
        EXPECT_FALSE(NameExists(RegionName(names.suffix)));
        EXPECT_FALSE(!names.requestEvent.empty() && NameExists(names.requestEvent));
        EXPECT_FALSE(!names.replyEvent.empty() && NameExists(names.replyEvent));
    }
}

// conclient, and the server it would start, in a mount namespace whose /dev/shm is a small
// tmpfs filled up: creating the names works, their pages cannot be had. What is left in that
// /dev/shm afterwards is printed after conclient has ended.
TEST(ProtocolEnds, FullSharedMemoryIsAReportedFailureOfTheClient) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root for a mount namespace";
    }
    test_support::TempDir dir;
    test_support::WriteFile(dir.File("script"), "write never\nexit\n");
    test_support::SpawnOptions options;
    options.argv = {"/usr/bin/unshare",
                    "-m",
                    "--propagation",
                    "private",
                    "/bin/sh",
                    "-c",
                    "mount -t tmpfs -o size=16k tmpfs /dev/shm || exit 99; "
                    "cat /dev/zero > /dev/shm/fill 2>/dev/null; "
                    "\"$0\" \"$@\"; status=$?; echo left: $(ls /dev/shm); exit $status",
                    CONCLIENT_PATH,
                    "--server",
                    CONPROXY_PATH,
                    dir.File("script")};
    test_support::Child conclient(options);
    const test_support::ExitInfo& exit = conclient.Wait();
    if (exit.exited && exit.exitStatus == 99) {
        GTEST_SKIP() << "no mount namespace here: " << conclient.Stderr();
    }
    ASSERT_TRUE(exit.exited) << test_support::Describe(exit);
    EXPECT_EQ(exit.exitStatus, kConclientNoServer) << conclient.Stderr();
    const std::string errors = conclient.Stderr();
    EXPECT_NE(errors.find(std::strerror(ENOSPC)), std::string::npos) << errors;
    EXPECT_NE(errors.find("conclient: "), std::string::npos) << errors;
    EXPECT_EQ(conclient.Stdout(), "left: fill\n");
}

}  // namespace
