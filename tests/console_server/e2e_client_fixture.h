// The fixture of the faulty-client tests: conproxy on a pseudo-terminal whose screen libvterm
// keeps, started on names it creates itself, so that client processes (conclient, each in a
// session of its own) may attach, die and come again; the test attaches as the client that goes on.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "conproxy_client.h"
#include "conproxy_client_testing.h"
#include "conproxy_protocol.h"
#include "e2e_support.h"

namespace e2e_faults {

using conclient::ConproxyClient;
using conclient::InputRecord;
using conclient::WaitResult;
using test_support::Child;

const std::string kConclient = CONCLIENT_PATH;
using conclient::kRegionBytes;
constexpr size_t kRecordBytes = sizeof(conclient::ConsoleRequest);
constexpr size_t kResultOffset = offsetof(conclient::ConsoleRequest, result);
constexpr int32_t kDataOffset = conclient::kDefaultDataOffset;  // where conclient puts data
constexpr uint8_t kFill = 0xAA;
// Long enough for a live server to have reacted, were it going to.
constexpr int kSettleMs = 300;
constexpr std::chrono::seconds kClientTimeLimit{30};

// The state word of an event, read the way the server reads it.
inline uint32_t EventWord(const std::string& name) {
    int fd = shm_open(("/" + name).c_str(), O_RDONLY, 0);
    if (fd < 0) {
        return ~0u;
    }
    void* map = mmap(nullptr, sizeof(uint32_t), PROT_READ, MAP_SHARED, fd, 0);
    close(fd);
    if (map == MAP_FAILED) {
        return ~0u;
    }
    uint32_t value = __atomic_load_n(static_cast<uint32_t*>(map), __ATOMIC_ACQUIRE);
    munmap(map, sizeof(uint32_t));
    return value;
}

inline uint32_t ReadU32(const uint8_t* bytes) {
    uint32_t value = 0;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// The server on the emulated terminal; `client_` is attached to its names.
class ServerForClients : public ::testing::Test {
  protected:
    ServerForClients()
        : names_(conclient::UniqueNames()),
          guard_(names_.suffix, names_.requestEvent, names_.replyEvent) {}

    void SetUp() override {
        ASSERT_TRUE(terminal_.Ok());
        ASSERT_EQ(tcgetattr(terminal_.SlaveFd(), &before_), 0);
        ASSERT_NO_FATAL_FAILURE(StartServer());
        std::string error;
        ASSERT_TRUE(client_.Open(names_, &error)) << error;
        ASSERT_EQ(client_.WaitReady(e2e::kWaitMs), WaitResult::kReplied);
        // An input command first, so the terminal is in the server's input mode before typing.
        InputRecord unused;
        uint32_t result = 0;
        ASSERT_EQ(client_.PeekInput(&unused, &result), WaitResult::kReplied);
    }

    void StartServer() {
        conclient::TestStartOptions o;
        o.serverPath = e2e::ServerPath();
        o.newSession = true;
        o.ttyPath = terminal_.SlavePath();
        o.argsOverride =
            std::vector<std::string>{names_.suffix, names_.requestEvent, names_.replyEvent};
        std::string error;
        ASSERT_TRUE(conclient::ClientTestAccess::StartServer(server_, o, &error)) << error;
        ASSERT_TRUE(e2e::WaitUntil([&] {
            return e2e::ShmExists(conproxy_protocol::RegionName(names_.suffix)) &&
                   e2e::ShmExists(names_.requestEvent) && e2e::ShmExists(names_.replyEvent);
        }));
    }

    // A conclient process attached to the server's names, running the script.
    std::unique_ptr<Child> StartClient(const std::string& script) {
        std::string path = dir_.File("script" + std::to_string(++clients_));
        test_support::WriteFile(path, script);
        test_support::SpawnOptions spawn;
        spawn.argv = {kConclient,        "--attach",     names_.suffix, names_.requestEvent,
                      names_.replyEvent, "--timeout-ms", "60000",       path};
        spawn.timeLimit = kClientTimeLimit;
        return std::make_unique<Child>(spawn);
    }

    void Kill(Child& child) {
        child.Signal(SIGKILL);
        const test_support::ExitInfo& exit = child.Wait();
        EXPECT_EQ(exit.signal, SIGKILL) << test_support::Describe(exit);
    }

    // ConExit from the client that goes on ends the server, and the terminal is as it was.
    void ExitAndCheckTerminal() {
        int32_t status = -1;
        ASSERT_EQ(client_.Exit(&status), WaitResult::kReplied);
        EXPECT_EQ(status, 0);
        conclient::ServerExit e = server_.WaitServerExit(e2e::kWaitMs);
        ASSERT_TRUE(e.ended);
        EXPECT_TRUE(e.exited);
        EXPECT_EQ(e.code, 0);
        termios after{};
        ASSERT_EQ(tcgetattr(terminal_.SlaveFd(), &after), 0);
        EXPECT_TRUE(e2e::SameTermios(before_, after)) << "the terminal was left in raw mode";
    }

    // Takes every record still queued, so the next case starts with no input waiting.
    void DrainInput() {
        for (int i = 0; i < 64; ++i) {
            InputRecord r;
            uint32_t result = 0;
            ASSERT_EQ(client_.PeekInput(&r, &result), WaitResult::kReplied);
            if (result != 1) {
                return;
            }
            ASSERT_EQ(client_.ReadInput(&r, &result, e2e::kWaitMs), WaitResult::kReplied);
        }
        ADD_FAILURE() << "input never ran dry";
    }

    conclient::ClientNames names_;
    e2e::ShmNamesGuard guard_;
    test_support::TempDir dir_;
    int clients_ = 0;
    e2e::EmulatedTerminal terminal_;
    termios before_{};
    ConproxyClient server_;  // only starts and watches the process; never opens the names
    ConproxyClient client_;
};

}  // namespace e2e_faults
