// The client library against a real conproxy and against objects that others made: waits that
// end at their limit with nobody serving, existing objects refused unless they are safely ours,
// and only the standard descriptors handed to a server it starts.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "conproxy_client.h"
#include "conproxy_protocol.h"
#include "e2e_support.h"

namespace {

using conclient::ConproxyClient;
using conclient::WaitResult;

TEST(ClientWithoutServer, WaitsEndAtTheirTimeLimit) {
    ConproxyClient client;
    std::string error;
    ASSERT_TRUE(client.Open(conclient::UniqueNames(), &error)) << error;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client.WaitReady(200), WaitResult::kTimedOut);
    EXPECT_EQ(client.Raw(conclient::ConNop5, 0, 0, nullptr, 200), WaitResult::kTimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

// The client library's open accepts an existing object only when it is ours and closed to
// others; the error names the object and why.
TEST(ClientOpen, ObjectsSomeoneElseMadeAreRefused) {
    constexpr uid_t kOtherUser = 12345;
    const struct {
        const char* what;
        int which;  // 0 region, 1 request event, 2 reply event
        mode_t mode;
        bool otherOwner;
        const char* reason;
    } cases[] = {
        {"region 0666", 0, 0666, false, "open to other users"},
        {"request event 0606", 1, 0606, false, "open to other users"},
        {"reply event of another user", 2, 0600, true, "another user"},
    };
    for (const auto& c : cases) {
        const conclient::ClientNames names = conclient::UniqueNames();
        const std::string objects[] = {conproxy_protocol::RegionName(names.suffix),
                                       names.requestEvent, names.replyEvent};
        e2e::ShmNamesGuard guard(names.suffix, names.requestEvent, names.replyEvent);
        const int fd = shm_open(("/" + objects[c.which]).c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, c.which == 0 ? conclient::kRegionBytes : 4), 0);
        ASSERT_EQ(fchmod(fd, c.mode), 0);
        if (c.otherOwner) {
            ASSERT_EQ(fchown(fd, kOtherUser, kOtherUser), 0) << "the tests run as root";
        }
        close(fd);
        {
            ConproxyClient client;
            std::string error;
            EXPECT_FALSE(client.Open(names, &error)) << c.what;
            EXPECT_NE(error.find(objects[c.which]), std::string::npos) << c.what << ": " << error;
            EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
        }
        EXPECT_TRUE(e2e::ShmExists(objects[c.which])) << c.what;
    }
}

// Descriptors of the caller (here a pseudo-terminal pair made without close-on-exec) do not
// cross into the server: when the caller closes its terminal, the server's terminal hangs up.
// Only the lifeline does, as descriptor 3.
TEST(ClientStart, ServerGetsOnlyTheStandardDescriptors) {
    int master = -1;
    int slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    char slavePath[64];
    ASSERT_EQ(ptsname_r(master, slavePath, sizeof slavePath), 0);
    ConproxyClient client;
    std::string error;
    ASSERT_TRUE(client.Open(conclient::UniqueNames(), &error)) << error;
    conclient::StartOptions o;
    o.serverPath = e2e::ServerPath();
    o.newSession = true;
    o.ttyPath = slavePath;
    ASSERT_TRUE(client.StartServer(o, &error)) << error;
    ASSERT_EQ(client.WaitReady(e2e::kWaitMs), WaitResult::kReplied);

    const std::string fdDir = "/proc/" + std::to_string(client.ServerPid()) + "/fd";
    DIR* dir = opendir(fdDir.c_str());
    ASSERT_NE(dir, nullptr);
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || std::stoi(name) <= 2) {
            continue;
        }
        char target[256] = {0};
        const ssize_t n = readlink((fdDir + "/" + name).c_str(), target, sizeof target - 1);
        ASSERT_GT(n, 0);
        // The server's own: its shared-memory objects, the watch on the region's size and the
        // one on the terminal's input (an epoll set and the eventfd that stops it).
        const std::string link = target;
        if (name == "3") {
            EXPECT_EQ(link.rfind("socket:", 0), 0u) << "the lifeline: " << link;
            continue;
        }
        EXPECT_TRUE(link.rfind("/dev/shm/", 0) == 0 || link == "anon_inode:inotify" ||
                    link == "anon_inode:[eventpoll]" || link == "anon_inode:[eventfd]")
            << name << " -> " << link;
    }
    closedir(dir);

    close(slave);
    close(master);
    const conclient::ServerExit e = client.WaitServerExit(e2e::kWaitMs);
    EXPECT_TRUE(e.ended) << "the terminal did not hang up";
}

}  // namespace
