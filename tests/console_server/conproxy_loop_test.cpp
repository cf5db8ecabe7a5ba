// conproxy as a real process: start-up statuses, the turn-taking loop with the client library as
// its client (the record's bytes the test's own), and the terminal side on a pseudo-terminal. Every
// child is started by the tests' launcher and killed when its time is up.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "conproxy_loop_support.h"
#include "conproxy_protocol.h"

namespace {

using namespace conproxy;
using namespace conproxy_loop;

TEST(ConproxyLoop, LongestSuffixThatFitsTheNameBufferIsServed) {
    std::string longest = UniqueName("m");
    longest += std::string(72 - longest.size(), 'x');
    Client client(NewNames(longest));
    Server server(client.Args(), false);
    ASSERT_TRUE(client.Ready());
    ASSERT_TRUE(client.Call(ConExit));
    EXPECT_EQ(server.ExitCode(), 0);
}

TEST(ConproxyLoop, StandingRequestIsServedAtOnceThenTurnsUntilExit) {
    {
        // A standing exit ends the server with nobody taking another turn.
        Client client;
        client.Send(ConsoleRequest{ConExit, -7, 0, 0, 0});
        Server server(client.Args(), false);
        // The reply event is set by the ready signal as well: the end shows the exit was served.
        EXPECT_EQ(server.ExitCode(), 0);
        EXPECT_TRUE(client.Replied(0));
        EXPECT_EQ(client.Record().status, 0);
    }
    Client client;
    // An unknown command already waits when the server starts.
    client.Send(ConsoleRequest{11, 99, 0, 0, 0});
    Server server(client.Args(), false);
    EXPECT_EQ(server.Output("Unknown command: b\n"), "\n***error*** Unknown command: b\n");
    ASSERT_TRUE(client.Replied());
    EXPECT_EQ(client.Record().status, 99);

    std::memcpy(client.Region() + 100, "hi there\n", 9);
    ASSERT_TRUE(client.Call(ConWriteText, 100, 9));
    EXPECT_EQ(server.Output("\n"), "hi there\n");

    // Without a terminal the screen calls fail and no input record is delivered.
    std::memset(client.Region() + 200, 0x5A, 22);
    ASSERT_TRUE(client.Call(ConGetScreenInfo, 200));
    EXPECT_EQ(client.Region()[200], 0x5A);
    ASSERT_TRUE(client.Call(ConPeekInput, 300));
    EXPECT_EQ(client.Record().result, 0u);
    ASSERT_TRUE(client.Call(ConReadInput, 300));
    EXPECT_EQ(client.Record().result, 0u);
    // Text still comes from a file: here the end of /dev/null.
    ASSERT_TRUE(client.Call(ConReadText, 300, 10));
    EXPECT_EQ(client.Record().result, 0u);

    ASSERT_TRUE(client.Call(ConExit));
    EXPECT_EQ(client.Record().status, 0);
    EXPECT_EQ(server.ExitCode(), 0);
    // The client's names stay: the server only opened them.
    EXPECT_TRUE(NameExists(client.Names().requestEvent));
}

// Ended by its client's ConExit (0) or by a signal, the server takes away the names it made.
class ConproxyCreatedNames : public ::testing::TestWithParam<int> {};

TEST_P(ConproxyCreatedNames, GoAwayWhenTheServerEnds) {
    const int signalNumber = GetParam();
    const conclient::ClientNames names = NewNames();
    const NamesRemover remover{
        {conproxy_protocol::RegionName(names.suffix), names.requestEvent, names.replyEvent}};
    Server server({names.suffix, names.requestEvent, names.replyEvent}, false);
    // Opened as the client would, after the server made them.
    ASSERT_TRUE(WaitForObject(names.replyEvent, 4));
    {
        Client client(names);
        ASSERT_TRUE(client.Ready());
        if (signalNumber == 0) {
            ASSERT_TRUE(client.Call(ConExit));
            EXPECT_EQ(server.ExitCode(), 0);
        } else {
            server.Signal(signalNumber);
            const test_support::ExitInfo info = server.Wait();
            EXPECT_EQ(info.signal, signalNumber) << test_support::Describe(info);
        }
    }
    EXPECT_FALSE(NameExists(conproxy_protocol::RegionName(names.suffix)));
    EXPECT_FALSE(NameExists(names.requestEvent));
    EXPECT_FALSE(NameExists(names.replyEvent));
}

INSTANTIATE_TEST_SUITE_P(ExitAndSignals, ConproxyCreatedNames,
                         ::testing::Values(0, SIGTERM, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& ending) {
                             return ending.param == 0 ? std::string("Exit")
                                                      : "Signal" + std::to_string(ending.param);
                         });

// Objects another user made before the server starts: with rights for others, or owned by
// someone else (the tests run as root, so they can hand an object to another uid). The server
// must not give its ready signal into them or serve through them.
TEST(ConproxyLoop, ObjectsSomeoneElseMadeAreRefusedWith33) {
    constexpr uid_t kOtherUser = 12345;
    enum Which { kRegion, kRequest, kReply };
    const struct {
        const char* what;
        Which which;
        mode_t mode;
        bool otherOwner;
        const char* reason;
    } cases[] = {
        {"region 0666", kRegion, 0666, false, "open to other users"},
        {"request event 0666", kRequest, 0666, false, "open to other users"},
        {"reply event 0644", kReply, 0644, false, "open to other users"},
        {"region 0660", kRegion, 0660, false, "open to other users"},
        {"region of another user", kRegion, 0600, true, "another user"},
        {"reply event of another user", kReply, 0600, true, "another user"},
    };
    for (const auto& c : cases) {
        const std::string suffix = UniqueName("m");
        const std::string names[] = {conproxy_protocol::RegionName(suffix), UniqueName("req"),
                                     UniqueName("rep")};
        const NamesRemover remover{{names[0], names[1], names[2]}};
        const std::string& premade = names[c.which];
        const int fd = shm_open(("/" + premade).c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        ASSERT_GE(fd, 0) << c.what;
        ASSERT_EQ(ftruncate(fd, c.which == kRegion ? kRegionBytes : 4), 0);
        ASSERT_EQ(fchmod(fd, c.mode), 0);
        if (c.otherOwner) {
            ASSERT_EQ(fchown(fd, kOtherUser, kOtherUser), 0) << "the tests run as root";
        }
        void* word = mmap(nullptr, 4, PROT_READ, MAP_SHARED, fd, 0);
        close(fd);
        ASSERT_NE(word, MAP_FAILED);

        Server server({suffix, names[1], names[2]}, false);
        EXPECT_EQ(server.ExitCode(), 33) << c.what;
        const std::string errors = server.Errors();
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << c.what << ": " << errors;
        EXPECT_NE(errors.find(premade), std::string::npos) << c.what << ": " << errors;
        EXPECT_NE(errors.find(c.reason), std::string::npos) << c.what << ": " << errors;
        if (c.which == kReply) {
            EXPECT_EQ(*static_cast<volatile uint32_t*>(word), 0u) << "ready signal given";
        }
        munmap(word, 4);
        // The other user's object stays; what the server made is gone again.
        EXPECT_TRUE(NameExists(premade)) << c.what;
        for (const std::string& name : names) {
            if (name != premade) {
                EXPECT_FALSE(NameExists(name)) << c.what << ": " << name;
            }
        }
    }
}

TEST(ConproxyLoop, NamesThatCoincideAreRefusedWith33) {
    const std::string suffix = UniqueName("m");
    const std::string event = UniqueName("ev");
    const std::string other = UniqueName("ev");
    const struct {
        const char* what;
        std::string request, reply;
    } cases[] = {
        {"one event for both", event, event},
        {"request named as the region", conproxy_protocol::RegionName(suffix), other},
        {"reply named as the region", other, conproxy_protocol::RegionName(suffix)},
    };
    for (const auto& c : cases) {
        const NamesRemover remover{{conproxy_protocol::RegionName(suffix), c.request, c.reply}};
        Server server({suffix, c.request, c.reply}, false);
        EXPECT_EQ(server.ExitCode(), 33) << c.what;
        const std::string errors = server.Errors();
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << c.what << ": " << errors;
        EXPECT_EQ(server.Output(""), "") << c.what;
        EXPECT_FALSE(NameExists(conproxy_protocol::RegionName(suffix))) << c.what;
        EXPECT_FALSE(NameExists(c.request)) << c.what;
        EXPECT_FALSE(NameExists(c.reply)) << c.what;
    }
}

// The terminal side: raw input through the decoder, line mode, the cursor query, 866 output.
class ConproxyOnTerminal : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_GE(server.Terminal(), 0); }
    void Type(const std::string& keys) {
        ASSERT_EQ(write(server.Terminal(), keys.data(), keys.size()),
                  static_cast<ssize_t>(keys.size()));
    }
    std::string Shown(const std::string& expected) {
        return Server::ReadUntil(server.Terminal(), expected);
    }
    std::string RegionText(size_t offset, size_t size) {
        return std::string(reinterpret_cast<char*>(client.Region()) + offset, size);
    }

    Client client;
    Server server{client.Args(), true};
};

TEST_F(ConproxyOnTerminal, ReadTextIsAnEditedLineEchoedAndEndedWithCrLf) {
    ASSERT_TRUE(client.Ready());
    Type(
        "abd\x7f"
        "c\r");
    ASSERT_TRUE(client.Call(ConReadText, 400, 10));
    EXPECT_EQ(client.Record().result, 5u);
    EXPECT_EQ(RegionText(400, 5), "abc\r\n");
    EXPECT_NE(Shown("c\r").find("abd\b \bc"), std::string::npos);

    // A line longer than the read: the rest waits for the next one.
    Type("hello\r");
    ASSERT_TRUE(client.Call(ConReadText, 400, 3));
    EXPECT_EQ(RegionText(400, 3), "hel");
    ASSERT_TRUE(client.Call(ConReadText, 400, 10));
    EXPECT_EQ(client.Record().result, 4u);
    EXPECT_EQ(RegionText(400, 4), "lo\r\n");
    ASSERT_TRUE(client.Call(ConExit));
    EXPECT_EQ(server.ExitCode(), 0);
}

TEST_F(ConproxyOnTerminal, ScreenInfoAsksTheTerminalAndKeepsKeysTypedAhead) {
    ASSERT_TRUE(client.Ready());
    client.Send(ConsoleRequest{ConGetScreenInfo, 0, 500, 0, 0});
    Shown("\x1b[6n");
    Type("x\x1b[5;10R");
    ASSERT_TRUE(client.Replied());
    ConsoleScreenBufferInfo info;
    std::memcpy(&info, client.Region() + 500, sizeof info);
    EXPECT_EQ(info.size.x, 80);
    EXPECT_EQ(info.size.y, 25);
    EXPECT_EQ(info.cursorPosition.x, 9);
    EXPECT_EQ(info.cursorPosition.y, 4);
    EXPECT_EQ(info.attributes, 7);
    EXPECT_EQ(info.window.right, 79);
    EXPECT_EQ(info.window.bottom, 24);
    EXPECT_EQ(info.maximumWindowSize.x, 80);

    ASSERT_TRUE(client.Call(ConReadInput, 600));
    EXPECT_EQ(client.Record().result, 1u);
    InputRecord record;
    std::memcpy(&record, client.Region() + 600, sizeof record);
    EXPECT_EQ(record.eventType, kKeyEvent);
    EXPECT_TRUE(record.event.key.keyDown);
    EXPECT_EQ(record.event.key.asciiChar, 'x');
    ASSERT_TRUE(client.Call(ConExit));
}

TEST_F(ConproxyOnTerminal, ScreenCommandsBecomeEscapeSequencesAndTextIsUtf8) {
    ASSERT_TRUE(client.Ready());
    ASSERT_TRUE(client.Call(ConSetCursor, 5 | 1 << 16, 3));
    EXPECT_NE(Shown("\x1b[4;6H").find("\x1b[4;6H"), std::string::npos);
    // Outside the screen: refused, nothing written.
    ASSERT_TRUE(client.Call(ConSetCursor, 80, 0));
    std::memcpy(client.Region() + 700, "\x8f\xe0\xa8\xa2\xa5\xe2!", 7);  // "Привет!" in 866
    ASSERT_TRUE(client.Call(ConWriteText, 700, 7));
    const std::string shown = Shown("!");
    EXPECT_EQ(shown.find("\x1b["), std::string::npos) << shown;
    EXPECT_NE(shown.find("Привет!"), std::string::npos) << shown;

    // Clearing answers the cursor query itself when the terminal says nothing.
    ASSERT_TRUE(client.Call(ConClearScreen));
    EXPECT_EQ(client.Record().status, 0);
    EXPECT_NE(Shown("\x1b[1;1H").find("\x1b[2J"), std::string::npos);
    ASSERT_TRUE(client.Call(ConExit));
    EXPECT_EQ(server.ExitCode(), 0);
}

// The unknown command's line moves the cursor as any text does: a terminal that leaves the
// cursor query unanswered then gets the screen information where the line left the cursor.
TEST_F(ConproxyOnTerminal, UnknownCommandLineMovesTheCursorTheScreenInformationReports) {
    ASSERT_TRUE(client.Ready());
    ASSERT_TRUE(client.Call(ConSetCursor, 5, 3));
    ASSERT_TRUE(client.Call(11));
    EXPECT_NE(Shown("command: b\r\n").find("\r\n***error*** Unknown command: b\r\n"),
              std::string::npos);
    ASSERT_TRUE(client.Call(ConGetScreenInfo, 500));
    ConsoleScreenBufferInfo info;
    std::memcpy(&info, client.Region() + 500, sizeof info);
    EXPECT_EQ(info.cursorPosition.x, 0);
    EXPECT_EQ(info.cursorPosition.y, 5);
    ASSERT_TRUE(client.Call(ConExit));
    EXPECT_EQ(server.ExitCode(), 0);
}

// The client shrinks the region while a read waits for a key: when the key comes the server
// touches no page that is gone, answers (a count of 0 where the record's page is left), and
// serves on once the region is back.
TEST(ConproxyFaults, RegionShrunkDuringAPendingReadIsNotTouched) {
    const struct {
        int32_t command;
        int32_t dataOffset;
        off_t shrunkTo;
    } cases[] = {{ConReadInput, 4000, 0},
                 {ConReadText, 4000, 0},
                 {ConReadInput, 6000, 4096},
                 {ConReadText, 6000, 4096}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.command) + " shrunk to " + std::to_string(c.shrunkTo));
        Client client;
        Server server(client.Args(), true);
        ASSERT_TRUE(client.Ready());
        client.Send(ConsoleRequest{c.command, 0, c.dataOffset, 10, 0x5555});
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the server waits for keys
        const int fd = shm_open(
            ("/" + conproxy_protocol::RegionName(client.Names().suffix)).c_str(), O_RDWR, 0);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, c.shrunkTo), 0);
        const char keys[] = "k\r";
        ASSERT_EQ(write(server.Terminal(), keys, 2), 2);
        ASSERT_TRUE(client.Replied());
        if (c.shrunkTo > 0) {
            EXPECT_EQ(client.Record().result, 0u);
        }

        // Back to its size: the next requests are served as usual.
        ASSERT_EQ(ftruncate(fd, kRegionBytes), 0);
        close(fd);
        ASSERT_TRUE(client.Call(ConPeekInput, 4000));
        ASSERT_TRUE(client.Call(ConExit));
        EXPECT_EQ(client.Record().status, 0);
        EXPECT_EQ(server.ExitCode(), 0);
        struct termios after {};
        ASSERT_EQ(tcgetattr(server.Terminal(), &after), 0);
        EXPECT_NE(after.c_lflag & ICANON, 0u);
    }
}

// The client cuts the region while a text write waits for the terminal's cursor answer (up to
// half a second on a terminal that never answers): the text was taken before the wait, so the
// server touches no page that is gone, answers, and serves on once the region is back. The cut
// lands at a different point of the wait in each trial; the trials are bounded in count and time.
TEST(ConproxyFaults, RegionCutWhileATextWriteWaitsForTheCursorIsNotTouched) {
    constexpr int kTrials = 4;
    const Deadline budget(20000);
    for (int trial = 0; trial < kTrials && !budget.Expired(); ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        Client client;
        Server server(client.Args(), true);
        ASSERT_TRUE(client.Ready());
        std::memcpy(client.Region() + 4000, "cut text", 8);
        client.Send(ConsoleRequest{ConWriteText, 0, 4000, 8, 0});
        std::this_thread::sleep_for(std::chrono::milliseconds(100 + 60 * trial));
        const int fd = shm_open(
            ("/" + conproxy_protocol::RegionName(client.Names().suffix)).c_str(), O_RDWR, 0);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, 0), 0);
        ASSERT_TRUE(client.Replied()) << "the server did not answer";

        ASSERT_EQ(ftruncate(fd, kRegionBytes), 0);
        close(fd);
        ASSERT_TRUE(client.Call(ConNop5));
        ASSERT_TRUE(client.Call(ConExit));
        EXPECT_EQ(client.Record().status, 0);
        EXPECT_EQ(server.ExitCode(), 0);
    }
}

// A paste flood while the client only peeks: the server stops taking keys from the terminal once
// its queue is full, instead of growing without end; the keys wait in the terminal.
TEST(ConproxyFaults, PastedFloodDoesNotGrowTheQueueWithoutEnd) {
    Client client;
    Server server(client.Args(), true);
    ASSERT_TRUE(client.Ready());
    const int master = server.Terminal();
    ASSERT_EQ(fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK), 0);
    const std::string flood(4096, 'a');
    size_t accepted = 0;
    constexpr int kRounds = 1500;
    for (int i = 0; i < kRounds; ++i) {
        const ssize_t n = write(master, flood.data(), flood.size());
        if (n > 0) {
            accepted += static_cast<size_t>(n);
        }
        ASSERT_TRUE(client.Call(ConPeekInput, 4000));
    }
    // Unbounded, each peek would take a read's worth (256 bytes): 384 000 bytes in all. Bounded,
    // the queue (4096 records, 2 per key) and the terminal's own buffer take far less.
    EXPECT_LT(accepted, 200000u);
    ASSERT_TRUE(client.Call(ConReadInput, 4000));
    EXPECT_EQ(client.Record().result, 1u);
    InputRecord record;
    std::memcpy(&record, client.Region() + 4000, sizeof record);
    EXPECT_EQ(record.event.key.asciiChar, 'a');
    ASSERT_TRUE(client.Call(ConExit));
    EXPECT_EQ(server.ExitCode(), 0);
}

}  // namespace
