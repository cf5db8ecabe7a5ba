// CONPROXY.EXE under Wine, on a pseudo-terminal read through libvterm, driven by conclient.exe
// under the same wineserver: every command, the keys typed into the terminal, and a server that
// conclient.exe starts itself on its own console.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "e2e_console_pair.h"

namespace {

using e2e::ConsolePair;
using e2e::Platform;
using Lines = std::vector<std::string>;

// The first line of an answer (the dump line follows it).
std::string Head(const Lines& answer) {
    return answer.empty() ? std::string("<no answer>") : answer.front();
}

class WineConproxy : public ::testing::Test {
  protected:
    void SetUp() override {
        wine_ = e2e::WineSetupFromBuild();
        pair_ = std::make_unique<ConsolePair>(Platform::kWine, wine_);
        ASSERT_TRUE(pair_->Ready()) << pair_->Terminal().ScreenText();
    }

    void ExitServer() {
        EXPECT_EQ(Head(pair_->Request("exit")), "exit status=0");
        EXPECT_EQ(pair_->ServerExitStatus(), 0);
    }

    e2e::WineSetup wine_;
    std::unique_ptr<ConsolePair> pair_;
};

TEST_F(WineConproxy, ScreenCommandsWorkOnTheTerminal) {
    ConsolePair& p = *pair_;
    EXPECT_EQ(p.Request("clear"), (Lines{"clear status=0", "dump status=0 result=0 data="}));
    EXPECT_EQ(Head(p.Request("cursor 5 3")), "cursor 5,3 ok");
    EXPECT_EQ(Head(p.Request("write Hello")), "write ok");
    // size 80x25, cursor 10,3, attributes 7, window 0,0,79,24, largest window 80x25
    EXPECT_EQ(p.Request("info"),
              (Lines{"info size=80x25 cursor=10,3 attr=0x7 window=0,0,79,24 max=80x25",
                     "dump status=0 result=0 data=500019000a0003000700000000004f00180050001900"}));
    EXPECT_TRUE(e2e::WaitUntil([&] { return p.Terminal().Row(3) == "     Hello"; }))
        << p.Terminal().ScreenText();

    // "Привет" in code page 866 shows as Cyrillic on the UTF-8 terminal.
    EXPECT_EQ(Head(p.Request("cursor 0 0")), "cursor 0,0 ok");
    EXPECT_EQ(Head(p.Request("writehex 8F E0 A8 A2 A5 E2")), "writehex ok");
    EXPECT_TRUE(e2e::WaitUntil([&] { return p.Terminal().Row(0) == "Привет"; }))
        << p.Terminal().ScreenText();

    // Outside the buffer the cursor stays where it was.
    EXPECT_EQ(Head(p.Request("cursor 100 3")), "cursor 100,3 ok");
    EXPECT_EQ(Head(p.Request("info")),
              "info size=80x25 cursor=6,0 attr=0x7 window=0,0,79,24 max=80x25");

    EXPECT_EQ(Head(p.Request("clear")), "clear status=0");
    EXPECT_TRUE(e2e::WaitUntil([&] {
        return p.Terminal().ScreenText().find_first_not_of('\n') == std::string::npos;
    })) << p.Terminal().ScreenText();
    EXPECT_EQ(Head(p.Request("info")),
              "info size=80x25 cursor=0,0 attr=0x7 window=0,0,79,24 max=80x25");
    ExitServer();
}

TEST_F(WineConproxy, OnlyAnsweredAndUnknownCommands) {
    ConsolePair& p = *pair_;
    EXPECT_EQ(p.Request("nop"), (Lines{"nop ok", "dump status=0 result=0 data="}));
    EXPECT_EQ(p.Request("nop10"), (Lines{"nop10 ok", "dump status=0 result=0 data="}));
    // An unknown code is answered with status and result left as they were.
    const struct {
        const char* line;
        const char* shown;
    } unknown[] = {{"raw 0 64 0", "***error*** Unknown command: 0"},
                   {"raw 11 64 0", "***error*** Unknown command: b"},
                   {"raw -1 64 0", "***error*** Unknown command: ffffffff"}};
    for (const auto& u : unknown) {
        EXPECT_EQ(Head(p.Request(u.line)).substr(0, 4), "raw ") << u.line;
        EXPECT_TRUE(e2e::WaitUntil([&] {
            return p.Terminal().ScreenText().find(u.shown) != std::string::npos;
        })) << u.line
            << "\n"
            << p.Terminal().ScreenText();
    }
    ExitServer();
}

TEST_F(WineConproxy, KeysTypedAreReadAsRecordsAndLines) {
    ConsolePair& p = *pair_;
    EXPECT_EQ(p.Request("peek"), (Lines{"peek result=0",
                                        "dump status=0 result=0 data="
                                        "0000000000000000000000000000000000000000"}));
    // A read waits for the key.
    p.Send("read");
    p.Type("a");
    EXPECT_EQ(p.Answer(), (Lines{"read result=1 key down vk=0x41 scan=0x1e char=\"a\" state=0x0 "
                                 "repeat=1",
                                 "dump status=0 result=1 data="
                                 "0100000001000000010041001e00610000000000"}));
    EXPECT_EQ(Head(p.Request("peek")),
              "peek result=1 key up vk=0x41 scan=0x1e char=\"a\" state=0x0 repeat=1");
    EXPECT_EQ(Head(p.Request("read")),
              "read result=1 key up vk=0x41 scan=0x1e char=\"a\" state=0x0 repeat=1");

    // A whole line, in the console's default line mode, echoed on the terminal.
    p.Send("readtext 10");
    p.Type("xyz\r");
    EXPECT_EQ(p.Answer(), (Lines{"readtext result=5 text=\"xyz\\r\\n\"",
                                 "dump status=0 result=5 data=78797a0d0a"}));
    EXPECT_TRUE(e2e::WaitUntil([&] {
        return p.Terminal().ScreenText().find("xyz") != std::string::npos;
    })) << p.Terminal().ScreenText();
    ExitServer();
}

// conclient.exe on the terminal starts CONPROXY.EXE itself (CreateProcessA); the server inherits
// the client's console and serves it.
TEST(WineConproxyStartedByClient, ServesTheClientsConsole) {
    const e2e::WineSetup wine = e2e::WineSetupFromBuild();
    test_support::TempDir dir;  // removed with its files however the test ends
    const std::string script = dir.File("script");
    const std::string out = dir.File("out");
    std::ofstream(script) << "clear\ncursor 2 4\nwrite started\ninfo\nexit\n";

    e2e::EmulatedTerminal terminal;
    ASSERT_TRUE(terminal.Ok());
    test_support::ExitInfo status;
    {
        test_support::Child client(
            e2e::OnTerminal({wine.wine, wine.programDir + "/conclient.exe", "--out", out, script},
                            wine.Environment(), terminal.SlavePath()));
        ASSERT_TRUE(client.WaitFor(std::chrono::milliseconds(e2e::kWaitMs * 3)))
            << terminal.ScreenText();
        status = client.Wait();
    }
    std::stringstream text;
    text << std::ifstream(out).rdbuf();
    std::string answers = text.str();
    for (size_t at; (at = answers.find('\r')) != std::string::npos;) answers.erase(at, 1);
    EXPECT_TRUE(status.exited && status.exitStatus == 0)
        << test_support::Describe(status) << ": " << answers;
    EXPECT_EQ(answers,
              "ready\n"
              "clear status=0\n"
              "cursor 2,4 ok\n"
              "write ok\n"
              "info size=80x25 cursor=9,4 attr=0x7 window=0,0,79,24 max=80x25\n"
              "exit status=0 server-exit=0\n");
    EXPECT_TRUE(e2e::WaitUntil([&] { return terminal.Row(4) == "  started"; }))
        << terminal.ScreenText();
}

// CONPROXY.EXE keeps the command line as specified: too few arguments, whatever they are, end
// with 32 and nothing printed (the Linux server adds --version, --help and a usage line).
TEST(WineConproxyCommandLine, TooFewArgumentsPrintNothingAndEndWith32) {
    const e2e::WineSetup wine = e2e::WineSetupFromBuild();
    const std::vector<std::vector<std::string>> cases = {{}, {"--version"}, {"--help"}, {"a", "b"}};
    for (const auto& args : cases) {
        test_support::SpawnOptions options;
        options.argv = {wine.wine, wine.programDir + "/CONPROXY.EXE"};
        options.argv.insert(options.argv.end(), args.begin(), args.end());
        options.extraEnv = wine.Environment();
        options.timeLimit = std::chrono::milliseconds(e2e::kWaitMs * 3);
        test_support::Child server(options);
        const test_support::ExitInfo& end = server.Wait();
        const std::string what = args.empty() ? "no arguments" : args.front();
        EXPECT_TRUE(end.exited && end.exitStatus == 32)
            << what << ": " << test_support::Describe(end);
        EXPECT_EQ(server.Stdout(), "") << what;
        EXPECT_EQ(server.Stderr(), "") << what;
    }
}

}  // namespace
