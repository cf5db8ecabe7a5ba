// conclient running a script against a real conproxy that it starts itself; both share one
// pseudo-terminal (as in a person's terminal session) and conclient writes its answers to a file.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/resource.h>
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

#include "child_process.h"
#include "conproxy_client.h"
#include "conproxy_client_testing.h"
#include "conproxy_protocol.h"
#include "e2e_support.h"

namespace {

using conclient::ConproxyClient;

// The suffix of the one region in /dev/shm that the process made, or "" when there is not
// exactly one.
std::string OnlyStemOf(long pid) {
    const std::string prefix = conproxy_protocol::RegionName("cpx" + std::to_string(pid) + "_");
    std::vector<std::string> found;
    if (DIR* dir = opendir("/dev/shm")) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.compare(0, prefix.size(), prefix) == 0) {
                found.push_back(name.substr(conproxy_protocol::RegionName("").size()));
            }
        }
        closedir(dir);
    }
    return found.size() == 1 ? found[0] : std::string();
}

class ConclientScript : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(terminal_.Ok()); }

    // Starts conclient on the script; the returned object owns (and finally kills) it. With
    // another terminal, the script and the answers are that name's in the test's directory.
    std::unique_ptr<ConproxyClient> Start(const std::string& script,
                                          std::vector<std::string> options = {},
                                          e2e::EmulatedTerminal* terminal = nullptr,
                                          const std::string& name = "") {
        std::ofstream(dir_.File("script" + name)) << script;
        std::vector<std::string> args = {"--server", e2e::ServerPath(), "--out",
                                         dir_.File("out" + name)};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(dir_.File("script" + name));
        conclient::TestStartOptions o;
        o.serverPath = CONCLIENT_PATH;
        o.newSession = true;
        o.ttyPath = (terminal != nullptr ? *terminal : terminal_).SlavePath();
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

    std::string Output(const std::string& name = "") {
        std::stringstream text;
        text << std::ifstream(dir_.File("out" + name)).rdbuf();
        return text.str();
    }

    e2e::EmulatedTerminal terminal_;
    test_support::TempDir dir_;  // removed with the script and the answers however the test ends
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
              "error bad line 1: frobnicate (unknown request: see conclient --help)\n"
              "error bad line 2: cursor x y (expected: cursor COL ROW, whole numbers from -32768 "
              "to 32767)\n"
              "nop ok\n"
              "exit status=0 server-exit=0\n");
}

TEST_F(ConclientScript, ReadWithNobodyTypingStopsAtTheTimeLimit) {
    conclient::ServerExit e = Run("read\nnop\n", {"--timeout-ms", "300"});
    ASSERT_TRUE(e.ended);
    EXPECT_EQ(e.code, 1);
    EXPECT_EQ(Output(), "ready\nerror read: timeout\n");
}

// The person at the keyboard may take longer than the reply time-out (10 s) to press a key:
// every request that waits for the keyboard, the raw ones too, waits as long as it takes.
TEST_F(ConclientScript, KeyboardWaitsHaveNoTimeLimit) {
    struct Case {
        const char* script;
        const char* answer;  // how the answer starts once a key is typed
    };
    const Case cases[] = {
        {"read\nexit\n", "ready\nread result=1 key down"},
        {"readtext 5\nexit\n", "ready\nreadtext result=3 text=\"q\\r\\n\""},
        {"raw 7 64 1\nexit\n", "ready\nraw cmd=7 status=0 result=1"},
        {"raw 8 64 5\nexit\n", "ready\nraw cmd=8 status=0 result=3"},
    };
    // One terminal each, all waiting at once, so the suite waits out the time-out only once.
    std::vector<std::unique_ptr<e2e::EmulatedTerminal>> terminals;
    std::vector<std::unique_ptr<ConproxyClient>> processes;
    for (size_t i = 0; i < std::size(cases); ++i) {
        terminals.push_back(std::make_unique<e2e::EmulatedTerminal>());
        ASSERT_TRUE(terminals.back()->Ok());
        processes.push_back(Start(cases[i].script, {}, terminals.back().get(), std::to_string(i)));
    }
    for (size_t i = 0; i < std::size(cases); ++i) {
        ASSERT_TRUE(e2e::WaitUntil([&] { return Output(std::to_string(i)) == "ready\n"; }))
            << cases[i].script;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(conclient::kDefaultReplyTimeoutMs + 500));
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(Output(std::to_string(i)), "ready\n") << cases[i].script;
        terminals[i]->Type("q\r");
    }
    for (size_t i = 0; i < std::size(cases); ++i) {
        conclient::ServerExit e = processes[i]->WaitServerExit(e2e::kWaitMs);
        ASSERT_TRUE(e.ended) << cases[i].script;
        EXPECT_EQ(e.code, 0) << cases[i].script;
        const std::string out = Output(std::to_string(i));
        EXPECT_EQ(out.rfind(cases[i].answer, 0), 0u) << cases[i].script << out;
    }
}

// Scripts and answers are the user's UTF-8 text: written in code page 866 on the server's side,
// shown back as text. A character 866 lacks is named, that line is not sent, the script goes on.
TEST_F(ConclientScript, WriteAndReadTextAreTheUsersText) {
    std::unique_ptr<ConproxyClient> conclientProcess = Start(
        "cursor 0 2\n"
        "write Привет, мир °√№\n"
        "write price 5 €\n"
        "writehex 41\n"
        "read\n"
        "readtext 10\n"
        "exit\n");
    ASSERT_TRUE(e2e::WaitUntil([&] { return Output().find("writehex ok\n") != std::string::npos; }))
        << Output();
    terminal_.Type("ж");
    ASSERT_TRUE(e2e::WaitUntil([&] { return Output().find("read result=1") != std::string::npos; }))
        << Output();
    terminal_.Type("абв\\\"\r");
    conclient::ServerExit e = conclientProcess->WaitServerExit(e2e::kWaitMs);
    ASSERT_TRUE(e.ended);
    EXPECT_EQ(e.code, 2);
    EXPECT_EQ(Output(),
              "ready\n"
              "cursor 0,2 ok\n"
              "write ok\n"
              "error write: \"€\" (U+20AC) is not in code page 866\n"
              "writehex ok\n"
              "read result=1 key down vk=0x0 scan=0x0 char=\"ж\" state=0x0 repeat=1\n"
              "readtext result=7 text=\"абв\\\\\\\"\\r\\n\"\n"
              "exit status=0 server-exit=0\n");
    EXPECT_EQ(terminal_.Row(2).rfind("Привет, мир °√№A", 0), 0u) << terminal_.ScreenText();
}

// On a terminal without a script the server would take every key typed: refused at once. A
// script on standard input from a file (or a pipe) is read as any other.
TEST_F(ConclientScript, StandardInputIsAScriptOnlyWhenItIsNoTerminal) {
    conclient::TestStartOptions o;
    o.serverPath = CONCLIENT_PATH;
    o.newSession = true;
    o.ttyPath = terminal_.SlavePath();
    o.argsOverride = std::vector<std::string>{"--server", e2e::ServerPath()};
    ConproxyClient spawner;
    std::string error;
    ASSERT_TRUE(conclient::ClientTestAccess::StartServer(spawner, o, &error)) << error;
    conclient::ServerExit e = spawner.WaitServerExit(e2e::kWaitMs);
    ASSERT_TRUE(e.ended);
    EXPECT_EQ(e.code, 3);
    EXPECT_TRUE(e2e::WaitUntil([&] { return terminal_.Row(0).rfind("usage: conclient", 0) == 0; }))
        << terminal_.ScreenText();
    EXPECT_EQ(terminal_.ScreenText().find("ready"), std::string::npos);

    test_support::TempDir dir;
    test_support::WriteFile(dir.File("script"), "nop\nexit\n");
    test_support::SpawnOptions piped;
    piped.argv = {CONCLIENT_PATH, "--server", e2e::ServerPath()};
    piped.stdinPath = dir.File("script");
    test_support::Child child(piped);
    const test_support::ExitInfo& end = child.Wait();
    EXPECT_TRUE(end.exited && end.exitStatus == 0) << test_support::Describe(end) << child.Stderr();
    EXPECT_EQ(child.Stdout(), "ready\nnop ok\nexit status=0 server-exit=0\n");
}

// A script on standard input is never the server's keyboard: the server reads its keys from
// the terminal conclient runs on, or from nothing where there is none, and every script line
// reaches conclient.
TEST_F(ConclientScript, AScriptOnStandardInputIsNotTheServersKeyboard) {
    std::string script = "readtext 40\n";
    for (int i = 0; i < 3000; ++i) {
        script += "nop\n";
    }
    script += "exit\n";
    for (const bool onTerminal : {false, true}) {
        SCOPED_TRACE(onTerminal ? "on a terminal" : "without a terminal");
        int pipeEnds[2];
        ASSERT_EQ(pipe(pipeEnds), 0);
        // The whole script fits in the pipe: written before conclient starts.
        ASSERT_EQ(write(pipeEnds[1], script.data(), script.size()),
                  static_cast<ssize_t>(script.size()));
        close(pipeEnds[1]);
        test_support::SpawnOptions piped;
        piped.argv = {CONCLIENT_PATH, "--server", e2e::ServerPath()};
        piped.stdinFd = pipeEnds[0];
        if (onTerminal) {
            piped.ttyPath = terminal_.SlavePath();
        }
        piped.timeLimit = std::chrono::seconds(30);
        test_support::Child child(piped);
        close(pipeEnds[0]);
        std::string expectedText = "readtext result=0 text=\"\"\n";
        if (onTerminal) {
            ASSERT_TRUE(e2e::WaitUntil([&] { return child.Stdout().rfind("ready\n", 0) == 0; }))
                << child.Stdout() << child.Stderr();
            // Typed keys reach the server once it reads its terminal raw.
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            terminal_.Type("hi\r");
            expectedText = "readtext result=4 text=\"hi\\r\\n\"\n";
        }
        const test_support::ExitInfo& end = child.Wait();
        EXPECT_TRUE(end.exited && end.exitStatus == 0)
            << test_support::Describe(end) << child.Stderr();
        std::string expected = "ready\n" + expectedText;
        for (int i = 0; i < 3000; ++i) {
            expected += "nop ok\n";
        }
        expected += "exit status=0 server-exit=0\n";
        const std::string out = child.Stdout();
        EXPECT_TRUE(out == expected)
            << out.substr(0, 300) << "\n... " << out.size() << " bytes against " << expected.size();
    }
}

TEST_F(ConclientScript, VersionAndHelpGoToStandardOutput) {
    struct Case {
        const char* option;
        const char* starts;
    };
    for (const Case& c : {Case{"--version", "conclient " PROJECT_VERSION_TEXT "\n"},
                          Case{"--help", "usage: conclient "}}) {
        test_support::SpawnOptions options;
        options.argv = {CONCLIENT_PATH, c.option};
        test_support::Child child(options);
        const test_support::ExitInfo& end = child.Wait();
        EXPECT_TRUE(end.exited && end.exitStatus == 0) << c.option << test_support::Describe(end);
        EXPECT_EQ(child.Stdout().rfind(c.starts, 0), 0u) << c.option << child.Stdout();
        EXPECT_EQ(child.Stderr(), "") << c.option;
    }
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
    ASSERT_TRUE(e2e::ShmExists(conproxy_protocol::RegionName(stem)));

    conclientProcess->SignalServer(SIGTERM);
    conclient::ServerExit e = conclientProcess->WaitServerExit(e2e::kWaitMs);
    ASSERT_TRUE(e.ended);
    EXPECT_EQ(e.code, 1);
    EXPECT_EQ(Output(), "ready\nerror read: interrupted\n");
    EXPECT_FALSE(e2e::ShmExists(conproxy_protocol::RegionName(stem)));
    EXPECT_FALSE(e2e::ShmExists(stem + "_req"));
    EXPECT_FALSE(e2e::ShmExists(stem + "_rep"));
    termios after{};
    ASSERT_EQ(tcgetattr(terminal_.SlaveFd(), &after), 0);
    EXPECT_TRUE(e2e::SameTermios(before, after));
}

}  // namespace

namespace {

// The names a conclient process made (cpx<pid>_...), still in /dev/shm.
std::vector<std::string> NamesOf(pid_t pid) {
    const std::string stem = "cpx" + std::to_string(pid) + "_";
    const std::string region = conproxy_protocol::RegionName(stem);
    std::vector<std::string> found;
    if (DIR* dir = opendir("/dev/shm")) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.compare(0, stem.size(), stem) == 0 ||
                name.compare(0, region.size(), region) == 0) {
                found.push_back(name);
            }
        }
        closedir(dir);
    }
    return found;
}

// Removes whatever a conclient process left, however the test ends.
struct LeftNamesRemover {
    pid_t pid = 0;
    ~LeftNamesRemover() {
        for (const std::string& name : NamesOf(pid)) shm_unlink(("/" + name).c_str());
    }
};

std::string Listed(const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& name : names) list += " " + name;
    return list;
}

class ConclientEnding : public ::testing::Test {
  protected:
    // Some of the signals dump core by default; no core files from the tests.
    static void SetUpTestSuite() {
        struct rlimit none {};
        getrlimit(RLIMIT_CORE, &none);
        none.rlim_cur = 0;
        setrlimit(RLIMIT_CORE, &none);
    }

    // conclient started by the tests' launcher on the script, its standard output given.
    std::unique_ptr<test_support::Child> Start(const std::string& script, int stdoutFd = -1) {
        std::ofstream(dir_.File("script")) << script;
        test_support::SpawnOptions options;
        options.argv = {CONCLIENT_PATH, "--server", e2e::ServerPath(), dir_.File("script")};
        options.stdoutFd = stdoutFd;
        options.timeLimit = std::chrono::milliseconds(e2e::kWaitMs * 4);
        return std::make_unique<test_support::Child>(options);
    }

    test_support::TempDir dir_;
};

// `conclient script | head -1`: the next line after the reader has gone ends conclient by
// SIGPIPE (status 141 in a shell), and its names go first.
TEST_F(ConclientEnding, BrokenOutputPipeRemovesItsNames) {
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);  // the reader's end in nobody else
    std::string script;
    for (int i = 0; i < 5000; ++i) script += "nop\n";
    std::unique_ptr<test_support::Child> conclient = Start(script + "exit\n", ends[1]);
    close(ends[1]);
    LeftNamesRemover remover{conclient->Pid()};
    std::string first;
    char c = 0;
    while (read(ends[0], &c, 1) == 1 && c != '\n') first += c;
    close(ends[0]);
    EXPECT_EQ(first, "ready");
    const test_support::ExitInfo& info = conclient->Wait();
    EXPECT_EQ(info.signal, SIGPIPE) << test_support::Describe(info);
    EXPECT_EQ(Listed(NamesOf(conclient->Pid())), "");
}

// Every other ending signal, Ctrl+\ among them: the names removed before conclient ends by the
// signal. SIGKILL leaves conclient no say: the server it started ends then and removes the names
// it served for it.
TEST_F(ConclientEnding, EndingSignalsRemoveItsNames) {
    for (int signalNumber : {SIGQUIT, SIGUSR1, SIGALRM, SIGRTMIN + 2, SIGKILL}) {
        SCOPED_TRACE(signalNumber);
        std::unique_ptr<test_support::Child> conclient = Start("sleep 60000\nexit\n");
        LeftNamesRemover remover{conclient->Pid()};
        std::string first;
        ASSERT_TRUE(conclient->FirstStdoutLine(first, std::chrono::milliseconds(e2e::kWaitMs)));
        ASSERT_EQ(first, "ready");
        ASSERT_EQ(NamesOf(conclient->Pid()).size(), 3u) << Listed(NamesOf(conclient->Pid()));
        kill(conclient->Pid(), signalNumber);
        const test_support::ExitInfo& info = conclient->Wait();
        EXPECT_EQ(info.signal, signalNumber) << test_support::Describe(info);
        if (signalNumber == SIGKILL) {
            e2e::WaitUntil([&] { return NamesOf(conclient->Pid()).empty(); });
        }
        EXPECT_EQ(Listed(NamesOf(conclient->Pid())), "");
    }
}

}  // namespace
