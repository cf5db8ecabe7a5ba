// conproxy as a real process driven by the client library: command line, start-up failures,
// the ready signal, the turn-taking, unknown codes, the end, and who removes the names.
// The server's stdin is a pseudo-terminal; its stdout and stderr are pipes the test reads.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "conproxy_client.h"
#include "conproxy_client_testing.h"
#include "conproxy_protocol.h"
#include "e2e_support.h"

namespace {

using conclient::ConproxyClient;
using conclient::WaitResult;

constexpr int kExitTooFewArgs = 32;
constexpr int kExitStartupFailure = 33;
// Long enough for a healthy server to have given its ready signal.
constexpr int kNoReadyWaitMs = 300;

class ServerProcess : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(terminal_.Ok()); }

    // The three names from Open, or these arguments in their place.
    conclient::TestStartOptions Options(std::vector<std::string> args) {
        conclient::TestStartOptions o = Options();
        o.argsOverride = std::move(args);
        return o;
    }
    conclient::TestStartOptions Options() {
        conclient::TestStartOptions o;
        o.serverPath = e2e::ServerPath();
        o.newSession = true;
        o.stdinFd = terminal_.SlaveFd();
        o.stdoutFd = out_.WriteEnd();
        o.stderrFd = err_.WriteEnd();
        return o;
    }

    // Open unique names and start the server on them; asserts it is ready.
    void StartReady(ConproxyClient* client) {
        std::string error;
        ASSERT_TRUE(client->Open(conclient::UniqueNames(), &error)) << error;
        ASSERT_TRUE(conclient::ClientTestAccess::StartServer(*client, Options(), &error)) << error;
        ASSERT_EQ(client->WaitReady(e2e::kWaitMs), WaitResult::kReplied);
    }

    e2e::EmulatedTerminal terminal_;
    e2e::OutputPipe out_, err_;
};

TEST_F(ServerProcess, TooFewArgumentsExit32AndCreateNothing) {
    for (size_t given = 0; given < 3; ++given) {
        SCOPED_TRACE(given);
        conclient::ClientNames names = conclient::UniqueNames();
        e2e::ShmNamesGuard guard(names.suffix, names.requestEvent, names.replyEvent);
        std::vector<std::string> all = {names.suffix, names.requestEvent, names.replyEvent};
        ConproxyClient client;  // never opened: the server alone could create the names
        std::string error;
        ASSERT_TRUE(conclient::ClientTestAccess::StartServer(
            client, Options(std::vector<std::string>(all.begin(), all.begin() + given)), &error))
            << error;
        conclient::ServerExit e = client.WaitServerExit(e2e::kWaitMs);
        ASSERT_TRUE(e.ended);
        EXPECT_TRUE(e.exited);
        EXPECT_EQ(e.code, kExitTooFewArgs);
        EXPECT_FALSE(e2e::ShmExists(conproxy_protocol::RegionName(names.suffix)));
        EXPECT_FALSE(e2e::ShmExists(names.requestEvent));
        EXPECT_FALSE(e2e::ShmExists(names.replyEvent));
    }
    EXPECT_EQ(out_.Text(), "");
}

TEST_F(ServerProcess, ReadyBeforeAnyRequestThenExitAnswersAndEndsWithZero) {
    ConproxyClient client;
    StartReady(&client);
    // Ready was signalled with no request sent; the server is still waiting for one.
    EXPECT_FALSE(client.WaitServerExit(100).ended);

    int32_t status = -1;
    ASSERT_EQ(client.Exit(&status), WaitResult::kReplied);
    EXPECT_EQ(status, 0);
    conclient::ServerExit e = client.WaitServerExit(e2e::kWaitMs);
    ASSERT_TRUE(e.ended);
    EXPECT_TRUE(e.exited);
    EXPECT_EQ(e.code, 0);
    EXPECT_EQ(err_.TextAtEnd(), "");
}

TEST_F(ServerProcess, EveryKnownCommandWithoutInputIsAnswered) {
    ConproxyClient client;
    StartReady(&client);
    // Turns in a row: a lost or doubled reply would show as a time-out or a stale answer.
    for (int round = 0; round < 50; ++round) {
        ASSERT_EQ(client.Nop(conclient::ConNop5), WaitResult::kReplied) << round;
        ASSERT_EQ(client.Nop(conclient::ConNop10), WaitResult::kReplied) << round;
    }
    conclient::InputRecord record;
    uint32_t result = 99;
    ASSERT_EQ(client.PeekInput(&record, &result), WaitResult::kReplied);
    EXPECT_EQ(result, 0u);
}

TEST_F(ServerProcess, UnknownCodesPrintTheErrorLineAndAreAnswered) {
    struct Case {
        int32_t code;
        const char* hex;
    };
    const Case cases[] = {{0, "0"}, {11, "b"}, {-1, "ffffffff"}, {0x7fffffff, "7fffffff"}};
    ConproxyClient client;
    StartReady(&client);
    std::string expected;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hex);
        conclient::ConsoleRequest r{};
        r.command = c.code;
        r.status = 0x1234;
        r.result = 0x5678;
        ASSERT_EQ(client.Transact(&r), WaitResult::kReplied);
        EXPECT_EQ(r.status, 0x1234);
        EXPECT_EQ(r.result, 0x5678u);
        expected += std::string("\n***error*** Unknown command: ") + c.hex + "\n";
    }
    ASSERT_EQ(client.Exit(nullptr), WaitResult::kReplied);
    ASSERT_TRUE(client.WaitServerExit(e2e::kWaitMs).ended);
    EXPECT_EQ(out_.TextAtEnd(), expected);
}

TEST_F(ServerProcess, RequestStandingAtStartIsServedAtOnce) {
    ConproxyClient client;
    std::string error;
    ASSERT_TRUE(client.Open(conclient::UniqueNames(), &error)) << error;
    conclient::ConsoleRequest r{};
    r.command = conclient::ConExit;
    r.status = -7;
    std::memcpy(client.Region(), &r, sizeof r);
    conclient::ClientTestAccess::SetRequestEvent(client);
    ASSERT_TRUE(conclient::ClientTestAccess::StartServer(client, Options(), &error)) << error;

    // Nobody takes another turn: the server must serve the standing request by itself.
    conclient::ServerExit e = client.WaitServerExit(e2e::kWaitMs);
    ASSERT_TRUE(e.ended);
    EXPECT_EQ(e.code, 0);
    EXPECT_TRUE(conclient::ClientTestAccess::ReplyEventIsSet(client));
    std::memcpy(&r, client.Region(), sizeof r);
    EXPECT_EQ(r.status, 0);
}

TEST_F(ServerProcess, StartupFailuresExit33WithoutReadySignal) {
    conclient::ClientNames good = conclient::UniqueNames();
    struct Case {
        const char* what;
        std::vector<std::string> args;
    };
    const std::string slash = "a/b";
    const Case cases[] = {
        {"suffix with a slash", {slash, good.requestEvent, good.replyEvent}},
        {"suffix of 73 characters", {std::string(73, 's'), good.requestEvent, good.replyEvent}},
        {"request event with a slash", {good.suffix, "r/q", good.replyEvent}},
        {"request event of 251 characters", {good.suffix, std::string(251, 'q'), good.replyEvent}},
    };
    ConproxyClient client;  // holds the good names, so a ready signal would be seen
    std::string error;
    ASSERT_TRUE(client.Open(good, &error)) << error;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Anything a faulty server made of the odd names goes again; the good ones stay ours.
        e2e::ShmNamesGuard guard(
            {c.args[0] == good.suffix ? "" : conproxy_protocol::RegionName(c.args[0]),
             c.args[1] == good.requestEvent ? "" : c.args[1]});
        e2e::OutputPipe err;
        conclient::TestStartOptions o = Options(c.args);
        o.stderrFd = err.WriteEnd();
        ConproxyClient runner;  // only starts the process
        ASSERT_TRUE(conclient::ClientTestAccess::StartServer(runner, o, &error)) << error;
        err.CloseWriteEnd();
        conclient::ServerExit e = runner.WaitServerExit(e2e::kWaitMs);
        ASSERT_TRUE(e.ended);
        EXPECT_TRUE(e.exited);
        EXPECT_EQ(e.code, kExitStartupFailure);
        EXPECT_FALSE(conclient::ClientTestAccess::ReplyEventIsSet(client));
        std::string text = err.TextAtEnd();
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(text.find('\n'), text.size() - 1) << text;  // one line
    }
}

TEST_F(ServerProcess, StartupFailsWithExit33WhenAnObjectCannotBeMade) {
    // A directory in the way of a name makes shm_open fail for root as well.
    for (int which = 0; which < 3; ++which) {
        SCOPED_TRACE(which);
        conclient::ClientNames names = conclient::UniqueNames();
        e2e::ShmNamesGuard guard(names.suffix, names.requestEvent, names.replyEvent);
        const std::string blocked[] = {conproxy_protocol::RegionName(names.suffix),
                                       names.requestEvent, names.replyEvent};
        std::string dir = "/dev/shm/" + blocked[which];
        ASSERT_EQ(mkdir(dir.c_str(), 0700), 0) << std::strerror(errno);
        ConproxyClient runner;
        std::string error;
        ASSERT_TRUE(conclient::ClientTestAccess::StartServer(
            runner, Options({names.suffix, names.requestEvent, names.replyEvent}), &error))
            << error;
        conclient::ServerExit e = runner.WaitServerExit(e2e::kWaitMs);
        rmdir(dir.c_str());
        ASSERT_TRUE(e.ended);
        EXPECT_EQ(e.code, kExitStartupFailure);
        // Whatever it had created before the failure it removed again.
        for (int other = 0; other < 3; ++other) {
            if (other != which) {
                EXPECT_FALSE(e2e::ShmExists(blocked[other])) << blocked[other];
            }
        }
    }
}

TEST_F(ServerProcess, EachSideRemovesOnlyTheNamesItCreated) {
    conclient::ClientNames names = conclient::UniqueNames();
    e2e::ShmNamesGuard guard(names.suffix, names.requestEvent, names.replyEvent);
    const std::string region = conproxy_protocol::RegionName(names.suffix);
    {
        // The server comes first and creates all three; the client only opens them.
        ConproxyClient runner;
        std::string error;
        ASSERT_TRUE(conclient::ClientTestAccess::StartServer(
            runner, Options({names.suffix, names.requestEvent, names.replyEvent}), &error))
            << error;
        ASSERT_TRUE(e2e::WaitUntil([&] {
            return e2e::ShmExists(region) && e2e::ShmExists(names.requestEvent) &&
                   e2e::ShmExists(names.replyEvent);
        }));
        {
            ConproxyClient client;
            ASSERT_TRUE(client.Open(names, &error)) << error;
            ASSERT_EQ(client.WaitReady(e2e::kWaitMs), WaitResult::kReplied);
            ASSERT_EQ(client.Nop(conclient::ConNop5), WaitResult::kReplied);
        }
        // The client has gone; the names are the server's and still there.
        EXPECT_TRUE(e2e::ShmExists(region));
        ConproxyClient again;
        ASSERT_TRUE(again.Open(names, &error)) << error;
        ASSERT_EQ(again.Exit(nullptr), WaitResult::kReplied);
        ASSERT_TRUE(runner.WaitServerExit(e2e::kWaitMs).ended);
    }
    EXPECT_FALSE(e2e::ShmExists(region));
    EXPECT_FALSE(e2e::ShmExists(names.requestEvent));
    EXPECT_FALSE(e2e::ShmExists(names.replyEvent));

    // The client comes first: the server leaves the names alone, the client removes them.
    {
        ConproxyClient client;
        StartReady(&client);
        ASSERT_EQ(client.Exit(nullptr), WaitResult::kReplied);
        ASSERT_TRUE(client.WaitServerExit(e2e::kWaitMs).ended);
        EXPECT_TRUE(e2e::ShmExists(conproxy_protocol::RegionName(client.Names().suffix)));
        names = client.Names();
    }
    EXPECT_FALSE(e2e::ShmExists(conproxy_protocol::RegionName(names.suffix)));
    EXPECT_FALSE(e2e::ShmExists(names.requestEvent));
}

TEST_F(ServerProcess, TerminatedServerRemovesTheNamesItCreated) {
    conclient::ClientNames names = conclient::UniqueNames();
    e2e::ShmNamesGuard guard(names.suffix, names.requestEvent, names.replyEvent);
    const std::string region = conproxy_protocol::RegionName(names.suffix);
    ConproxyClient runner;
    std::string error;
    ASSERT_TRUE(conclient::ClientTestAccess::StartServer(
        runner, Options({names.suffix, names.requestEvent, names.replyEvent}), &error))
        << error;
    ASSERT_TRUE(e2e::WaitUntil([&] {
        return e2e::ShmExists(region) && e2e::ShmExists(names.requestEvent) &&
               e2e::ShmExists(names.replyEvent);
    }));
    runner.SignalServer(SIGTERM);
    conclient::ServerExit e = runner.WaitServerExit(e2e::kWaitMs);
    ASSERT_TRUE(e.ended);
    EXPECT_EQ(e.signal, SIGTERM);
    EXPECT_FALSE(e2e::ShmExists(region));
    EXPECT_FALSE(e2e::ShmExists(names.requestEvent));
    EXPECT_FALSE(e2e::ShmExists(names.replyEvent));
}

TEST_F(ServerProcess, KilledServerIsNoticedInsteadOfWaitedFor) {
    ConproxyClient client;
    StartReady(&client);
    client.SignalServer(SIGKILL);
    ASSERT_TRUE(client.WaitServerExit(e2e::kWaitMs).ended);
    EXPECT_EQ(client.Nop(conclient::ConNop5), WaitResult::kServerDied);
}

// The raw request writes only the command, the offset and the count: status and result go as the
// region holds them, and a command that leaves them alone hands them back unchanged.
TEST_F(ServerProcess, RawSendsStatusAndResultAsTheRegionHoldsThem) {
    ConproxyClient client;
    StartReady(&client);
    conclient::ConsoleRequest standing{};
    standing.command = conclient::ConClearScreen;
    standing.status = 1234;
    standing.dataOffset = 99;
    standing.count = 7;
    standing.result = 4321;
    std::memcpy(client.Region(), &standing, sizeof standing);
    conclient::ConsoleRequest out{};
    ASSERT_EQ(client.Raw(conclient::ConNop10, conclient::kDefaultDataOffset, 3, &out),
              WaitResult::kReplied);
    EXPECT_EQ(out.command, conclient::ConNop10);
    EXPECT_EQ(out.dataOffset, conclient::kDefaultDataOffset);
    EXPECT_EQ(out.count, 3u);
    EXPECT_EQ(out.status, 1234);
    EXPECT_EQ(out.result, 4321u);
}

}  // namespace
