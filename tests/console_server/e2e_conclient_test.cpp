// conclient running a script against a real conproxy that it starts itself; both share one
// pseudo-terminal (as in a person's terminal session) and conclient writes its answers to a file.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "conproxy_client.h"
#include "conproxy_client_testing.h"
#include "e2e_support.h"

namespace {

using conclient::ConproxyClient;

// The suffix of the one region in /dev/shm that the process made, or "" when there is not
// exactly one.
std::string OnlyStemOf(long pid) {
    const std::string prefix = "Mappingcpx" + std::to_string(pid) + "_";
    std::vector<std::string> found;
    if (DIR* dir = opendir("/dev/shm")) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.compare(0, prefix.size(), prefix) == 0) {
                found.push_back(name.substr(7));
            }
        }
        closedir(dir);
    }
    return found.size() == 1 ? found[0] : std::string();
}

class ConclientScript : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(terminal_.Ok());
        char dir[] = "/tmp/conclient_e2e_XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
    }
    void TearDown() override {
        unlink((dir_ + "/script").c_str());
        unlink((dir_ + "/out").c_str());
        rmdir(dir_.c_str());
    }

    // Starts conclient on the script; the returned object owns (and finally kills) it.
    std::unique_ptr<ConproxyClient> Start(const std::string& script,
                                          std::vector<std::string> options = {}) {
        std::ofstream(dir_ + "/script") << script;
        std::vector<std::string> args = {"--server", e2e::ServerPath(), "--out", dir_ + "/out"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(dir_ + "/script");
        conclient::TestStartOptions o;
        o.serverPath = CONCLIENT_PATH;
        o.newSession = true;
        o.ttyPath = terminal_.SlavePath();
        o.argsOverride = args;
        auto spawner = std::make_unique<ConproxyClient>();  // only starts and reaps conclient
        std::string error;
        EXPECT_TRUE(conclient::ClientTestAccess::StartServer(*spawner, o, &error)) << error;
        return spawner;
    }

    // Runs conclient on the script; returns its exit (ended=false when it overran).
    conclient::ServerExit Run(const std::string& script, std::vector<std::string> options = {}) {
        return Start(script, std::move(options))->WaitServerExit(e2e::kWaitMs * 2);
    }

    std::string Output() {
        std::stringstream text;
        text << std::ifstream(dir_ + "/out").rdbuf();
        return text.str();
    }

    e2e::EmulatedTerminal terminal_;
    std::string dir_;
};

TEST_F(ConclientScript, PrintsOneStableLinePerRequest) {
    conclient::ServerExit e =
        Run("# a comment, then a blank line\n"
            "\n"
            "clear\n"
            "cursor 5 3\n"
            "write Hello\n"
            "info\n"
            "peek\n"
            "nop\n"
            "nop10\n"
            "raw 11 64 0\n"
            "cursor 0 0\n"
            "writehex 8F E0 A8 A2 A5 E2\n"
            "exit\n");
    ASSERT_TRUE(e.ended);
    EXPECT_EQ(e.code, 0);
    EXPECT_EQ(Output(),
              "ready\n"
              "clear status=0\n"
              "cursor 5,3 ok\n"
              "write ok\n"
              "info size=80x25 cursor=10,3 attr=0x7 window=0,0,79,24 max=80x25\n"
              "peek result=0\n"
              "nop ok\n"
              "nop10 ok\n"
              "raw cmd=11 status=0 result=0\n"
              "cursor 0,0 ok\n"
              "writehex ok\n"
              "exit status=0 server-exit=0\n");
    EXPECT_TRUE(e2e::WaitUntil([&] { return terminal_.Row(3) == "     Hello"; }))
        << terminal_.ScreenText();
    EXPECT_EQ(terminal_.Row(0).substr(0, 12), "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
}

TEST_F(ConclientScript, BadLinesAreReportedAndTheScriptGoesOn) {
    conclient::ServerExit e = Run("frobnicate\ncursor x y\nnop\nexit\n");
    ASSERT_TRUE(e.ended);
    EXPECT_EQ(e.code, 2);
    EXPECT_EQ(Output(),
              "ready\n"
              "error bad line: frobnicate\n"
              "error bad line: cursor x y\n"
              "nop ok\n"
              "exit status=0 server-exit=0\n");
}

TEST_F(ConclientScript, ReadWithNobodyTypingStopsAtTheTimeLimit) {
    conclient::ServerExit e = Run("read\nnop\n", {"--timeout-ms", "300"});
    ASSERT_TRUE(e.ended);
    EXPECT_EQ(e.code, 1);
    EXPECT_EQ(Output(), "ready\nerror read: timeout\n");
}

// The person at the keyboard may take longer than the reply time-out (10 s) to press a key.
TEST_F(ConclientScript, ReadWithoutATimeLimitWaitsForTheKeyboard) {
    std::unique_ptr<ConproxyClient> conclientProcess = Start("read\nexit\n");
    ASSERT_TRUE(e2e::WaitUntil([&] { return Output() == "ready\n"; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(conclient::kDefaultReplyTimeoutMs + 500));
    EXPECT_EQ(Output(), "ready\n");
    terminal_.Type("q");
    conclient::ServerExit e = conclientProcess->WaitServerExit(e2e::kWaitMs);
    ASSERT_TRUE(e.ended);
    EXPECT_EQ(e.code, 0);
    EXPECT_EQ(Output().rfind("ready\nread result=1 key down", 0), 0u) << Output();
}

TEST_F(ConclientScript, InterruptedClientStopsItsServerAndRemovesItsNames) {
    termios before{};
    ASSERT_EQ(tcgetattr(terminal_.SlaveFd(), &before), 0);
    std::unique_ptr<ConproxyClient> conclientProcess = Start("read\n");
    ASSERT_TRUE(e2e::WaitUntil([&] { return Output() == "ready\n"; }));
    // Its names: the first unique names of the conclient process, pid, random part, counter.
    const std::string stem = OnlyStemOf(conclientProcess->ServerPid());
    unsigned pid = 0;
    char random[9] = {0};
    int end = 0;
    ASSERT_EQ(std::sscanf(stem.c_str(), "cpx%u_%8[0-9a-f]_1%n", &pid, random, &end), 2) << stem;
    ASSERT_EQ(std::string(random).size(), 8u) << stem;
    ASSERT_EQ(static_cast<size_t>(end), stem.size()) << stem;
    ASSERT_TRUE(e2e::ShmExists("Mapping" + stem));

    conclientProcess->SignalServer(SIGTERM);
    conclient::ServerExit e = conclientProcess->WaitServerExit(e2e::kWaitMs);
    ASSERT_TRUE(e.ended);
    EXPECT_EQ(e.code, 1);
    EXPECT_EQ(Output(), "ready\nerror read: interrupted\n");
    EXPECT_FALSE(e2e::ShmExists("Mapping" + stem));
    EXPECT_FALSE(e2e::ShmExists(stem + "_req"));
    EXPECT_FALSE(e2e::ShmExists(stem + "_rep"));
    termios after{};
    ASSERT_EQ(tcgetattr(terminal_.SlaveFd(), &after), 0);
    EXPECT_TRUE(e2e::SameTermios(before, after));
}

}  // namespace
