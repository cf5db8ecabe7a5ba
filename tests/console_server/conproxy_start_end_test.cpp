// conproxy's start-up and its ending as a real process: the command line, what a hostile or
// broken environment hands it at start (closed descriptors, a full /dev/shm, a background job,
// names with control bytes), and every way it can be made to end (signals, the terminal's Ctrl+C,
// objects cut under it, its client dying). Each ending must leave the terminal as it was and take
// away the names the server made.
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "conproxy_loop_support.h"
#include "conproxy_protocol.h"

namespace {

using namespace conproxy;
using namespace conproxy_loop;

// Runs the server through sh with a script in front of it: "$0" is the server, "$@" its
// arguments.
std::function<void(test_support::SpawnOptions&)> ThroughShell(const std::string& script) {
    return [script](test_support::SpawnOptions& options) {
        options.argv.insert(options.argv.begin(), {"/bin/sh", "-c", script});
    };
}

// Any byte that could drive a terminal: C0 (but the line ends), DEL, and every byte from 0x80 to
// 0x9F (a C1 control alone or in UTF-8, and the tails of the sequences cases below use). The
// printable names of the cases have no such byte in them.
bool HasRawControlBytes(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && byte != '\n') || byte == 0x7f || (byte >= 0x80 && byte < 0xA0);
    });
}

bool Restored(int terminal) {
    struct termios mode {};
    return tcgetattr(terminal, &mode) == 0 && (mode.c_lflag & ICANON) != 0 &&
           (mode.c_lflag & ECHO) != 0;
}

// The three names of a server that creates them itself, removed at the end whatever happens.
struct ServerNames {
    std::string suffix = UniqueName("m");
    std::string requestName = UniqueName("req");
    std::string replyName = UniqueName("rep");
    NamesRemover remover{{conproxy_protocol::RegionName(suffix), requestName, replyName}};

    std::vector<std::string> Args() const { return {suffix, requestName, replyName}; }
    bool AllGone() const {
        return !NameExists(conproxy_protocol::RegionName(suffix)) && !NameExists(requestName) &&
               !NameExists(replyName);
    }
    conclient::ClientNames ClientNames() const { return {suffix, requestName, replyName}; }
    // Waits until the server has made its names and given the ready signal.
    bool Ready() const { return WaitForObject(replyName, 4) && Client(ClientNames()).Ready(); }
};

TEST(ConproxyCommandLine, WrongArgumentsShowTheUsageAndInformationGoesToStandardOutput) {
    const std::string usage = "usage: conproxy SUFFIX REQUEST-EVENT REPLY-EVENT\n";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string out;  // the start of standard output
        std::string err;
    } cases[] = {
        {{}, 32, "", usage},
        {{"a"}, 32, "", usage},
        {{"a", "b"}, 32, "", usage},
        {{"--version"}, 0, std::string("conproxy ") + PROGRAM_VERSION + "\n", ""},
        {{"--help"}, 0, usage, ""},
    };
    for (const auto& c : cases) {
        const std::string what = c.args.empty() ? "no arguments" : c.args[0];
        Server server(c.args, false);
        EXPECT_EQ(server.ExitCode(), c.status) << what;
        EXPECT_EQ(server.Errors(), c.err) << what;
        const std::string out = server.Output(c.out);
        EXPECT_EQ(out.substr(0, c.out.size()), c.out) << what;
        if (c.status != 0) {
            EXPECT_EQ(out, "") << what;
        }
    }
}

// A client's names reach the line that reports them on the user's terminal: escape sequences
// in them must be shown, not obeyed.
TEST(ConproxyStart, ControlBytesInNamesAreShownEscaped) {
    const std::string title = "\x1b]0;owned\x07";
    const struct {
        const char* what;
        std::vector<std::string> args;
        std::string shown;
    } cases[] = {
        {"region name too long", {title + std::string(72, 'x'), "a", "b"}, "\\x1b]0;owned\\x07"},
        {"event name refused",
         {UniqueName("m"), "e/\x1b[2J\\", UniqueName("rep")},
         "e/\\x1b[2J\\x5c"},
        {"names coincide", {UniqueName("m"), "\x1b[31m", "\x1b[31m"}, "\\x1b[31m"},
        // C1 controls: 0x9B alone is CSI to many terminals, and so is U+009B in UTF-8.
        {"C1 byte alone", {UniqueName("m"), "e/\x9b\x32J", UniqueName("rep")}, "e/\\x9b2J"},
        {"C1 control in UTF-8",
         {UniqueName("m"), "e/\xc2\x9b\x32J\xc2\x85", UniqueName("rep")},
         "e/\\xc2\\x9b2J\\xc2\\x85"},
        // No UTF-8: past U+10FFFF, a cut sequence, an overlong ESC.
        {"no UTF-8",
         {UniqueName("m"), "e/\xf4\x90\x80\x80\xe2\x82|\xc0\x9b", UniqueName("rep")},
         "e/\\xf4\\x90\\x80\\x80\\xe2\\x82|\\xc0\\x9b"},
        {"printable UTF-8 stays as it is",
         {UniqueName("m"), "e/\xd0\xb8\xd0\xbc\xc3\xa9\xce\xa9", UniqueName("rep")},
         "e/\xd0\xb8\xd0\xbc\xc3\xa9\xce\xa9"},
    };
    for (const auto& c : cases) {
        const NamesRemover remover{
            {conproxy_protocol::RegionName(c.args[0]), c.args[1], c.args[2]}};
        Server server(c.args, false);
        EXPECT_EQ(server.ExitCode(), 33) << c.what;
        const std::string errors = server.Errors();
        EXPECT_FALSE(HasRawControlBytes(errors)) << c.what << ": " << errors;
        EXPECT_NE(errors.find(c.shown), std::string::npos) << c.what << ": " << errors;
    }
}

// Started with a standard descriptor closed, the first named object would take its number: the
// console would then write text into the region, or read the region as typed text.
TEST(ConproxyStart, ClosedStandardDescriptorsGetDevNull) {
    {
        Client client;
        Server server(client.Args(), false, ThroughShell("exec \"$0\" \"$@\" >&-"));
        ASSERT_TRUE(client.Ready());
        std::memcpy(client.Region() + 100, "XXXXXXXXXXXXXXXXXXXXXXXX", 24);
        ASSERT_TRUE(client.Call(ConWriteText, 100, 24));
        EXPECT_EQ(client.Record().command, ConWriteText) << "the text went into the region";
        EXPECT_EQ(client.Record().status, 99);
        ASSERT_TRUE(client.Call(ConExit));
        EXPECT_EQ(server.ExitCode(), 0);
    }
    Client client;
    Server server(client.Args(), false, ThroughShell("exec \"$0\" \"$@\" <&-"));
    ASSERT_TRUE(client.Ready());
    ASSERT_TRUE(client.Call(ConReadText, 300, 10));
    EXPECT_EQ(client.Record().result, 0u) << "the region was read as typed text";
    ASSERT_TRUE(client.Call(ConExit));
    EXPECT_EQ(server.ExitCode(), 0);
}

// tmpfs gives a page at its first touch; on a full /dev/shm that touch is SIGBUS. A private
// mount namespace (root only) holds a small full tmpfs on /dev/shm for the server alone.
TEST(ConproxyStart, FullSharedMemoryIsAStartUpFailure) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root for a mount namespace";
    }
    const ServerNames names;
    Server server(names.Args(), false, [](test_support::SpawnOptions& options) {
        options.argv.insert(options.argv.begin(),
                            {"/usr/bin/unshare", "-m", "--propagation", "private", "/bin/sh", "-c",
                             "mount -t tmpfs -o size=16k tmpfs /dev/shm || exit 99; "
                             "cat /dev/zero > /dev/shm/fill 2>/dev/null; exec \"$0\" \"$@\""});
    });
    const test_support::ExitInfo info = server.Wait();
    if (info.exited && (info.exitStatus == 99 || info.exitStatus == 1)) {
        GTEST_SKIP() << "no mount namespace here: " << server.Errors();
    }
    ASSERT_TRUE(info.exited) << test_support::Describe(info);
    EXPECT_EQ(info.exitStatus, 33);
    const std::string errors = server.Errors();
    EXPECT_NE(errors.find(conproxy_protocol::RegionName(names.suffix)), std::string::npos)
        << errors;
    EXPECT_NE(errors.find(std::strerror(ENOSPC)), std::string::npos) << errors;
}

// A job in the background of an interactive shell: its first mode change would stop it with
// SIGTTOU, and the job would hang as "Stopped".
TEST(ConproxyStart, BackgroundJobSaysSoAndEndsWith33) {
    const ServerNames names;
    Server server(names.Args(), true, ThroughShell("set -m; \"$0\" \"$@\" & wait $!; exit $?"));
    EXPECT_EQ(server.ExitCode(), 33);
    const std::string errors = server.Errors();
    EXPECT_NE(errors.find("not in the foreground"), std::string::npos) << errors;
    EXPECT_TRUE(Restored(server.Terminal()));
    EXPECT_TRUE(names.AllGone());
}

// Every signal whose default ends a process, faults of any cause (here sent from outside)
// among them: the terminal back as it was, the server's names gone, and the process ended by
// that very signal.
class ConproxyEndingSignal : public ::testing::TestWithParam<int> {
  protected:
    // Some of them dump core by default; no core files from the tests.
    static void SetUpTestSuite() {
        struct rlimit none {
            0, 0
        };
        struct rlimit now {};
        getrlimit(RLIMIT_CORE, &now);
        none.rlim_max = now.rlim_max;
        setrlimit(RLIMIT_CORE, &none);
    }
};

TEST_P(ConproxyEndingSignal, RestoresTheTerminalRemovesTheNamesAndDiesByIt) {
    const int signalNumber = GetParam();
    const ServerNames names;
    Server server(names.Args(), true);
    ASSERT_TRUE(names.Ready());
    server.Signal(signalNumber);
    const test_support::ExitInfo info = server.Wait();
    EXPECT_EQ(info.signal, signalNumber) << test_support::Describe(info);
    EXPECT_TRUE(Restored(server.Terminal()));
    EXPECT_TRUE(names.AllGone());
}

INSTANTIATE_TEST_SUITE_P(Signals, ConproxyEndingSignal,
                         ::testing::Values(SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGXCPU, SIGXFSZ,
                                           SIGVTALRM, SIGPROF, SIGPIPE, SIGTERM, SIGINT, SIGHUP,
                                           SIGPWR, SIGSTKFLT, SIGSYS, SIGTRAP, SIGRTMIN,
                                           SIGRTMIN + 1, SIGRTMAX, SIGBUS, SIGSEGV, SIGABRT),
                         [](const ::testing::TestParamInfo<int>& signal) {
                             return "Signal" + std::to_string(signal.param);
                         });

// SIGPIPE of our own write to a reader that went away only fails that write, as on Windows.
TEST(ConproxyEnding, WriteToAReaderThatWentAwayFailsAndServingGoesOn) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    Client client;
    Server server(client.Args(), false,
                  [&ends](test_support::SpawnOptions& options) { options.stdoutFd = ends[1]; });
    close(ends[1]);
    close(ends[0]);
    ASSERT_TRUE(client.Ready());
    std::memcpy(client.Region() + 100, "lost", 4);
    ASSERT_TRUE(client.Call(ConWriteText, 100, 4));
    ASSERT_TRUE(client.Call(ConExit));
    EXPECT_EQ(server.ExitCode(), 0);
}

// Ctrl+C and Ctrl+\ on the server's own terminal end it as a Windows console's default handler
// does, whatever request waits for keys; they never become a key record. Ctrl+Z stays a key.
TEST(ConproxyEnding, CtrlCAndCtrlBackslashEndTheServerAndAreNeverKeys) {
    const struct {
        const char* key;
        int signalNumber;
        int32_t command;
    } cases[] = {
        {"\x03", SIGINT, ConReadInput},
        {"\x03", SIGINT, ConReadText},
        {"\x1c", SIGQUIT, ConReadInput},
        {"\x1c", SIGQUIT, ConReadText},
    };
    for (const auto& c : cases) {
        const ServerNames names;
        Server server(names.Args(), true);
        ASSERT_TRUE(names.Ready());
        {
            Client client(names.ClientNames());
            client.Send(ConsoleRequest{c.command, 0, 4000, 10, 0});
            ASSERT_EQ(write(server.Terminal(), c.key, 1), 1);
            const test_support::ExitInfo info = server.Wait();
            EXPECT_EQ(info.signal, c.signalNumber) << test_support::Describe(info);
            EXPECT_FALSE(client.Replied(0)) << "the key was served as a record";
        }
        EXPECT_TRUE(Restored(server.Terminal())) << c.signalNumber;
        EXPECT_TRUE(names.AllGone()) << c.signalNumber;
    }
    Client client;
    Server server(client.Args(), true);
    ASSERT_TRUE(client.Ready());
    ASSERT_TRUE(client.Call(ConPeekInput, 4000));
    ASSERT_EQ(write(server.Terminal(), "\x1a", 1), 1);
    // Ctrl goes down first, then Z with its character.
    InputRecord record{};
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(client.Call(ConReadInput, 4000));
        ASSERT_EQ(client.Record().result, 1u);
        std::memcpy(&record, client.Region() + 4000, sizeof record);
    }
    EXPECT_EQ(record.event.key.asciiChar, 0x1a);
    ASSERT_TRUE(client.Call(ConExit));
    EXPECT_EQ(server.ExitCode(), 0);
}

// The screen calls wait too (for the terminal's cursor answer, or for a slow terminal): a region
// cut meanwhile is measured again before anything is written into it.
TEST(ConproxyEnding, RegionShrunkDuringAScreenCallIsNotTouched) {
    for (int32_t command : {int32_t{ConGetScreenInfo}, int32_t{ConClearScreen}}) {
        Client client;
        Server server(client.Args(), true);
        ASSERT_TRUE(client.Ready());
        client.Send(ConsoleRequest{command, 0, 4000, 0, 0});
        Server::ReadUntil(server.Terminal(), "\x1b[6n");
        const int fd = shm_open(
            ("/" + conproxy_protocol::RegionName(client.Names().suffix)).c_str(), O_RDWR, 0);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, 0), 0);
        ASSERT_EQ(write(server.Terminal(), "\x1b[5;10R", 7), 7);
        ASSERT_TRUE(client.Replied()) << command;

        ASSERT_EQ(ftruncate(fd, kRegionBytes), 0);
        close(fd);
        ASSERT_TRUE(client.Call(ConExit)) << command;
        EXPECT_EQ(server.ExitCode(), 0) << command;
    }
}

// A client that cuts an event object under the server: the server notices before it touches
// the word, and ends with 34 and a line that says so, its terminal and names cleaned up.
TEST(ConproxyEnding, EventCutByTheClientEndsWith34) {
    for (bool cutReply : {false, true}) {
        const ServerNames names;
        Server server(names.Args(), true);
        ASSERT_TRUE(names.Ready());
        const std::string& cut = cutReply ? names.replyName : names.requestName;
        {
            Client client(names.ClientNames());
            const int fd = shm_open(("/" + cut).c_str(), O_RDWR, 0);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(ftruncate(fd, 0), 0);
            close(fd);
            if (cutReply) {
                client.Send(ConsoleRequest{ConNop5, 0, 0, 0, 0}, false);
            }
            const test_support::ExitInfo info = server.Wait();
            EXPECT_TRUE(info.exited) << test_support::Describe(info);
            EXPECT_EQ(info.exitStatus, 34) << cut;
        }
        const std::string errors = server.Errors();
        EXPECT_NE(errors.find("\"" + cut + "\": the object was cut"), std::string::npos) << errors;
        EXPECT_TRUE(Restored(server.Terminal())) << cut;
        EXPECT_TRUE(names.AllGone()) << cut;
    }
}

// An event cut to nothing and given its 4 bytes back at once, turn after turn: a touch of the
// word in between lands on the guard's zero page, and the object's size looks right again by the
// time it is measured. Sleeping on that page would be a server nobody can wake; it must end with
// 34, or else go on answering. A request whose word the cut zeroed is sent once more, uncut.
TEST(ConproxyEnding, EventCutAndGrownBackAtOnceEndsWith34OrServesOn) {
    constexpr int kTurns = 3000;
    constexpr int kTrialMs = 8000;
    for (bool cutReply : {false, true}) {
        Client client;
        Server server(client.Args(), true);
        ASSERT_TRUE(client.Ready());
        const std::string& cut = cutReply ? client.Names().replyEvent : client.Names().requestEvent;
        const int fd = shm_open(("/" + cut).c_str(), O_RDWR, 0);
        ASSERT_GE(fd, 0);
        const Deadline trial(kTrialMs);
        bool silent = false;
        int turn = 0;
        for (; turn < kTurns && !trial.Expired() && !silent; ++turn) {
            client.Send(ConsoleRequest{ConNop5, 0, 0, 0, 0});
            // The test's own mapping is not touched between the two: only the server's may be.
            ASSERT_EQ(ftruncate(fd, 0), 0);
            ASSERT_EQ(ftruncate(fd, 4), 0);
            if (!client.Replied(20)) {
                client.Send(ConsoleRequest{ConNop5, 0, 0, 0, 0});
                silent = !client.Replied(2000);
            }
        }
        close(fd);
        if (silent) {
            const test_support::ExitInfo info = server.Wait();
            EXPECT_TRUE(info.exited)
                << cut << " after " << turn
                << " turns, neither an answer nor an end: " << test_support::Describe(info);
            EXPECT_EQ(info.exitStatus, 34) << cut;
            EXPECT_TRUE(Restored(server.Terminal())) << cut;
        } else {
            ASSERT_TRUE(client.Call(ConExit)) << cut;
            EXPECT_EQ(server.ExitCode(), 0) << cut;
        }
    }
}

// "R" (running, sleeping...) or "Z" (a zombie nobody has reaped yet) or "" (gone).
std::string ProcessState(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    return close == std::string::npos || close + 2 >= line.size() ? "" : line.substr(close + 2, 1);
}

// The server the client library starts, on a terminal of its own (its own session, so that the
// client's end never hangs that terminal up), in a forked copy of the test that is the client;
// then(), run in that copy once the server is started, is the client's end.
struct LibraryClient {
    LibraryClient(const conclient::ClientNames& names,
                  const std::function<void(conclient::ConproxyClient&)>& then) {
        struct winsize size {
            25, 80, 0, 0
        };
        if (openpty(&master, &slave, slavePath, nullptr, &size) != 0) {
            ADD_FAILURE() << "openpty: " << std::strerror(errno);
            return;
        }
        test_support::SpawnOptions options;
        options.timeLimit = kServerLimit;
        process = std::make_unique<test_support::Child>(options, [&]() {
            conclient::ConproxyClient client;
            std::string error;
            conclient::StartOptions start;
            start.serverPath = CONPROXY_PATH;
            if (const char* underTest = std::getenv("CONPROXY_UNDER_TEST")) {
                start.serverPath = underTest;
            }
            start.newSession = true;
            start.ttyPath = slavePath;
            if (!client.Open(names, &error) || !client.StartServer(start, &error)) {
                return 1;
            }
            then(client);
            return 0;
        });
    }
    ~LibraryClient() {
        process.reset();
        close(master);
        close(slave);
    }
    // The server, once the client has started it (0 when it has not in time).
    pid_t ServerPid() const {
        const std::string children = "/proc/" + std::to_string(process->Pid()) + "/task/" +
                                     std::to_string(process->Pid()) + "/children";
        const Deadline deadline(kStepTimeoutMs);
        for (;;) {
            const std::string list = test_support::ReadFile(children);
            if (!list.empty()) {
                return static_cast<pid_t>(std::stol(list));
            }
            if (deadline.Expired()) {
                return 0;
            }
        }
    }

    int master = -1;
    int slave = -1;
    char slavePath[64] = {0};
    std::unique_ptr<test_support::Child> process;
};

bool Ended(pid_t pid) {
    const std::string state = ProcessState(pid);
    return state.empty() || state == "Z";
}

// Waits for the server to end as for its client's death; kills it when it will not.
bool EndsWithin(pid_t pid, int timeoutMs) {
    const Deadline deadline(timeoutMs);
    while (!Ended(pid) && !deadline.Expired()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollStepMs));
    }
    if (Ended(pid)) {
        return true;
    }
    kill(pid, SIGKILL);
    return false;
}

bool AllGone(const conclient::ClientNames& names) {
    return !NameExists(conproxy_protocol::RegionName(names.suffix)) &&
           !NameExists(names.requestEvent) && !NameExists(names.replyEvent);
}

// A client killed at any moment of its server's start-up, from the instant the server process
// appears: the server must not run on for good with the terminal raw, whatever it had learned of
// its parent by then. The names the client made go with the server, as nobody else is left to
// remove them. Trials spread over the first millisecond, each given longer than the server's
// own look at its client.
TEST(ConproxyEnding, ClientKilledDuringTheServersStartUpEndsIt) {
    constexpr int kTrials = 21;
    constexpr int kStepMicroseconds = 50;
    int runningOn = 0;
    std::string which;
    for (int trial = 0; trial < kTrials; ++trial) {
        const conclient::ClientNames names = NewNames();
        const NamesRemover remover{
            {conproxy_protocol::RegionName(names.suffix), names.requestEvent, names.replyEvent}};
        LibraryClient client(names, [](conclient::ConproxyClient&) { pause(); });
        ASSERT_NE(client.process, nullptr);
        const pid_t server = client.ServerPid();
        ASSERT_GT(server, 0) << "the client started no server";
        std::this_thread::sleep_for(std::chrono::microseconds(trial * kStepMicroseconds));
        kill(client.process->Pid(), SIGKILL);
        client.process->Wait();
        if (!EndsWithin(server, 1500)) {
            ++runningOn;
            which += " " + std::to_string(trial * kStepMicroseconds) + "us";
            continue;
        }
        EXPECT_TRUE(Restored(client.slave)) << trial * kStepMicroseconds << " us";
        EXPECT_TRUE(AllGone(names)) << trial * kStepMicroseconds << " us";
    }
    EXPECT_EQ(runningOn, 0) << "servers ran on after their client was killed at" << which;
}

// A client that runs another program in its place (exec) is gone as a client: its objects are
// unmapped and closed, though its process, the server's parent, lives on.
TEST(ConproxyEnding, ClientThatExecsAnotherProgramEndsItsServer) {
    const conclient::ClientNames names = NewNames();
    const NamesRemover remover{
        {conproxy_protocol::RegionName(names.suffix), names.requestEvent, names.replyEvent}};
    LibraryClient client(names, [](conclient::ConproxyClient& started) {
        if (started.WaitReady(kStepTimeoutMs) != conclient::WaitResult::kReplied) {
            _exit(1);
        }
        execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
        _exit(127);
    });
    ASSERT_NE(client.process, nullptr);
    const pid_t server = client.ServerPid();
    ASSERT_GT(server, 0) << "the client started no server";
    EXPECT_TRUE(EndsWithin(server, 2500)) << "the server runs on after its client's exec";
    EXPECT_TRUE(client.process->Running()) << "the program the client became has ended";
    EXPECT_TRUE(Restored(client.slave));
    EXPECT_TRUE(AllGone(names));
}

// A server whose parent holds its region (the client library starts it so) ends when that
// parent dies, even while it waits for keys; one started by hand from a shell, whose parent
// holds none of the objects, serves on.
TEST(ConproxyEnding, ServerStartedByItsClientEndsWithIt) {
    for (bool heldByParent : {true, false}) {
        Client client;
        int master = -1;
        int slave = -1;
        struct winsize size {
            25, 80, 0, 0
        };
        ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, &size), 0);
        test_support::TempDir folder;
        const std::string pidFile = folder.File("pid");
        // Not the terminal's controlling process: sh's end must not hang up the server.
        const std::string hold =
            heldByParent ? "exec 3<>\"/dev/shm/" + conproxy_protocol::RegionName("$1") + "\"; "
                         : "";
        Server server(client.Args(), false, [&](test_support::SpawnOptions& options) {
            options.stdinFd = slave;
            options.stdoutFd = slave;
            options.argv.insert(options.argv.begin(),
                                {"/bin/sh", "-c",
                                 hold + "exec 5<&0; \"$0\" \"$@\" <&5 5<&- 3<&- & echo $! > " +
                                     pidFile + "; wait"});
        });
        ASSERT_TRUE(client.Ready());
        const pid_t serverPid = std::stoi(test_support::ReadFile(pidFile));
        // Waiting for a key, as a server does while its client is killed during a read.
        client.Send(ConsoleRequest{ConReadInput, 0, 4000, 0, 0});
        ASSERT_EQ(kill(server.Pid(), SIGKILL), 0);
        server.Wait();
        if (heldByParent) {
            const Deadline deadline(kStepTimeoutMs);
            while (ProcessState(serverPid) != "" && ProcessState(serverPid) != "Z" &&
                   !deadline.Expired()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(kPollStepMs));
            }
            EXPECT_TRUE(ProcessState(serverPid) == "" || ProcessState(serverPid) == "Z")
                << "the server runs on without its client";
            EXPECT_TRUE(Restored(slave));
        } else {
            // Longer than the server's look at its parent, then it still serves.
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            ASSERT_EQ(write(master, "k", 1), 1);
            ASSERT_TRUE(client.Replied());
            EXPECT_EQ(client.Record().result, 1u);
            ASSERT_TRUE(client.Call(ConExit));
            const Deadline deadline(kStepTimeoutMs);
            while (ProcessState(serverPid) != "" && ProcessState(serverPid) != "Z" &&
                   !deadline.Expired()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(kPollStepMs));
            }
        }
        if (ProcessState(serverPid) != "" && ProcessState(serverPid) != "Z") {
            kill(serverPid, SIGKILL);
        }
        close(master);
        close(slave);
    }
}

}  // namespace
