// The POSIX named region and events against themselves, across a second process.
#include "rendezvous.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "child_process.h"
#include "console_records.h"
#include "startup.h"

namespace {

using namespace conproxy;

constexpr std::chrono::milliseconds kChildTimeLimit{10000};

std::string UniqueName(const char* what) {
    static int counter = 0;
    return std::string("conproxy_test_") + what + "_" + std::to_string(getpid()) + "_" +
           std::to_string(++counter);
}

bool NameExists(const std::string& name) {
    const int fd = shm_open(("/" + name).c_str(), O_RDONLY, 0);
    if (fd < 0) {
        return false;
    }
    close(fd);
    return true;
}

test_support::SpawnOptions ChildOptions() {
    test_support::SpawnOptions options;
    options.timeLimit = kChildTimeLimit;
    return options;
}

// Runs body in a second process (forked by the tests' launcher, with its time limit); returns
// its exit status, or -1 when it did not exit normally.
int InChild(const std::function<int()>& body) {
    test_support::Child child(ChildOptions(), body);
    const test_support::ExitInfo& exit = child.Wait();
    return exit.exited ? exit.exitStatus : -1;
}

// As in the server: the signal table first, so that the resize watch and the guard of the
// event pages are at work.
class SignalTable : public ::testing::Environment {
  public:
    void SetUp() override { ASSERT_TRUE(InstallSignalOwners()); }
};
const auto* const kSignalTable = ::testing::AddGlobalTestEnvironment(new SignalTable);

TEST(Rendezvous, SecondProcessOpensWhatTheFirstCreatedAndOnlyTheCreatorUnlinks) {
    const std::string regionName = UniqueName("region");
    const std::string eventName = UniqueName("event");
    {
        NamedRegion region;
        NamedEvent event;
        ASSERT_EQ(region.CreateOrOpen(regionName), 0u);
        ASSERT_EQ(event.CreateOrOpen(eventName), 0u);
        EXPECT_TRUE(region.Created());
        EXPECT_TRUE(event.Created());
        EXPECT_EQ(region.Size(), kRegionBytes);
        EXPECT_EQ(region.Data()[kRegionBytes - 1], 0);

        const int child = InChild([&] {
            NamedRegion sameRegion;
            NamedEvent sameEvent;
            if (sameRegion.CreateOrOpen(regionName) != 0 ||
                sameEvent.CreateOrOpen(eventName) != 0 || sameRegion.Created() ||
                sameEvent.Created()) {
                return 1;
            }
            std::memcpy(sameRegion.Data() + 8000, "from child", 10);
            return sameEvent.Set() ? 0 : 2;
        });
        EXPECT_EQ(child, 0);
        // The child only opened them: they outlive it.
        EXPECT_TRUE(NameExists(regionName));
        EXPECT_TRUE(NameExists(eventName));
        EXPECT_TRUE(event.Wait());
        EXPECT_EQ(std::memcmp(region.Data() + 8000, "from child", 10), 0);
    }
    EXPECT_FALSE(NameExists(regionName));
    EXPECT_FALSE(NameExists(eventName));
}

TEST(Rendezvous, ManualResetEventWakesAWaiterInAnotherProcess) {
    const std::string requestName = UniqueName("request");
    const std::string replyName = UniqueName("reply");
    NamedEvent request;
    NamedEvent reply;
    ASSERT_EQ(request.CreateOrOpen(requestName), 0u);
    ASSERT_EQ(reply.CreateOrOpen(replyName), 0u);

    // Set stays set through any number of waits until reset.
    ASSERT_TRUE(request.Set());
    EXPECT_TRUE(request.Wait());
    EXPECT_TRUE(request.Wait());
    ASSERT_TRUE(request.Reset());

    test_support::Child child(ChildOptions(), [&] {
        NamedEvent childRequest;
        NamedEvent childReply;
        if (childRequest.CreateOrOpen(requestName) != 0 ||
            childReply.CreateOrOpen(replyName) != 0 || !childRequest.Wait() || !childReply.Set()) {
            return 1;
        }
        return 0;
    });
    // The child is blocked while the event is reset.
    usleep(100 * 1000);
    EXPECT_TRUE(child.Running());
    ASSERT_TRUE(request.Set());
    EXPECT_TRUE(reply.Wait());
    const test_support::ExitInfo& exit = child.Wait();
    EXPECT_TRUE(exit.exited && exit.exitStatus == 0) << test_support::Describe(exit);
}

TEST(Rendezvous, ExistingSmallerRegionIsGrownAndNotUnlinked) {
    const std::string name = UniqueName("small");
    const int fd = shm_open(("/" + name).c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 100), 0);
    close(fd);
    {
        NamedRegion region;
        ASSERT_EQ(region.CreateOrOpen(name), 0u);
        EXPECT_FALSE(region.Created());
        EXPECT_EQ(region.Size(), kRegionBytes);
    }
    EXPECT_TRUE(NameExists(name));
    shm_unlink(("/" + name).c_str());
}

// The server asks for the size before each request and is told of a resize rather than
// measuring every time: each resize another process makes, one or several between two
// questions, shrinking or growing, must show in the very next answer.
TEST(Rendezvous, SizeFollowsEveryResizeAnotherProcessMakes) {
    const std::string name = UniqueName("resized");
    NamedRegion region;
    ASSERT_EQ(region.CreateOrOpen(name), 0u);
    ASSERT_EQ(region.Size(), kRegionBytes);
    const struct {
        std::vector<off_t> resizes;  // made in that order by one other process
        size_t size;
    } steps[] = {
        {{4096}, 4096},
        {{4096}, 4096},  // the same size again
        {{kRegionBytes}, kRegionBytes},
        {{100, 6000}, 6000},
        {{0}, 0},
        {{3 * kRegionBytes}, kRegionBytes},  // never more than is mapped
        {{20, kRegionBytes, 19}, 19},
        {{kRegionBytes}, kRegionBytes},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE("to " + std::to_string(step.size));
        ASSERT_EQ(InChild([&] {
                      const int fd = shm_open(("/" + name).c_str(), O_RDWR, 0);
                      for (const off_t bytes : step.resizes) {
                          if (fd < 0 || ftruncate(fd, bytes) != 0) {
                              return 1;
                          }
                      }
                      return 0;
                  }),
                  0);
        EXPECT_EQ(region.Size(), step.size);
        EXPECT_EQ(region.Size(), step.size);
    }
}

TEST(Rendezvous, RefusedNamesCreateNothing) {
    const std::string base = UniqueName("refused");
    const struct {
        std::string name;
        SystemError error;
    } cases[] = {
        {base + "/x", EINVAL},
        {base + std::string(251 - base.size(), 'n'), ENAMETOOLONG},
    };
    for (const auto& c : cases) {
        NamedRegion region;
        NamedEvent event;
        EXPECT_EQ(region.CreateOrOpen(c.name), c.error) << c.name;
        EXPECT_EQ(event.CreateOrOpen(c.name), c.error) << c.name;
        EXPECT_FALSE(event.Set());
        EXPECT_FALSE(event.Wait());
    }
    EXPECT_FALSE(NameExists(base));

    // 250 bytes is still a name.
    const std::string longest = base + std::string(250 - base.size(), 'n');
    NamedEvent event;
    EXPECT_EQ(event.CreateOrOpen(longest), 0u);
}

// A client may cut an event object under the server: every later call fails and says why
// (Intact false) instead of touching the word, which would be SIGBUS. A quiet event times out.
TEST(Rendezvous, EventCutUnderItFailsEveryCallInsteadOfTouchingTheWord) {
    const std::string name = UniqueName("cut");
    NamedEvent event;
    ASSERT_EQ(event.CreateOrOpen(name), 0u);
    EXPECT_EQ(event.Wait(20), EventWait::kTimedOut);
    ASSERT_TRUE(event.Set());
    EXPECT_EQ(event.Wait(20), EventWait::kSet);
    EXPECT_TRUE(event.Intact());

    const int fd = shm_open(("/" + name).c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 0), 0);
    close(fd);
    EXPECT_FALSE(event.Intact());
    EXPECT_FALSE(event.Set());
    EXPECT_EQ(errno, EFAULT);
    EXPECT_FALSE(event.Reset());
    EXPECT_EQ(event.Wait(kWaitForever), EventWait::kFailed);
}

}  // namespace
