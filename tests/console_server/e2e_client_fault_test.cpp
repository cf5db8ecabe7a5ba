// conproxy against clients that go wrong while it serves them: a client process killed between
// two requests or while the server waits for a key on its behalf, a terminating signal in the
// middle of a read, and a flood of turns. The next client attaches to the same names and goes on.
#include <future>

#include "e2e_client_fixture.h"

namespace {

using namespace e2e_faults;
using conclient::ConproxyClient;
using conclient::InputRecord;
using conclient::WaitResult;
using test_support::Child;

class DyingClients : public ServerForClients {};

TEST_F(DyingClients, ClientKilledBetweenRequestsLeavesTheServerWaitingForTheNext) {
    std::unique_ptr<Child> first = StartClient("write AB\ncursor 10 2\nsleep 60000\nwrite no\n");
    ASSERT_TRUE(e2e::WaitUntil([&] {
        return first->Stdout().find("cursor 10,2 ok") != std::string::npos;
    })) << first->Stdout();
    Kill(*first);

    EXPECT_FALSE(server_.WaitServerExit(kSettleMs).ended) << "the server gave up waiting";
    // Attached to the same names, the next client goes on where the first stopped: at the
    // cursor it left.
    ASSERT_EQ(client_.WriteText("CD"), WaitResult::kReplied);
    EXPECT_TRUE(e2e::WaitUntil([&] { return terminal_.Row(2) == std::string(10, ' ') + "CD"; }))
        << terminal_.ScreenText();
    EXPECT_EQ(terminal_.Row(0), "AB");
    ExitAndCheckTerminal();
}

TEST_F(DyingClients, ClientKilledWhileItsReadWaitsIsStillAnsweredAndTheNextGoesOn) {
    uint8_t* region = client_.Region();
    std::unique_ptr<Child> first = StartClient("read\nwrite no\n");
    // The request is out once the client has reset the reply and the read stands in the record.
    ASSERT_TRUE(e2e::WaitUntil([&] {
        return !conclient::ClientTestAccess::ReplyEventIsSet(client_) &&
               ReadU32(region) == conclient::ConReadInput;
    }));
    // Time for the client to set the request and for the server to take it.
    ASSERT_FALSE(server_.WaitServerExit(kSettleMs).ended);
    EXPECT_EQ(EventWord(names_.requestEvent), 0u) << "the server has not taken the request";
    Kill(*first);
    EXPECT_FALSE(conclient::ClientTestAccess::ReplyEventIsSet(client_))
        << "answered before any key";

    // The key comes after the client has gone: the read is carried out and answered all the same.
    terminal_.Type("q");
    ASSERT_TRUE(
        e2e::WaitUntil([&] { return conclient::ClientTestAccess::ReplyEventIsSet(client_); }));
    EXPECT_EQ(ReadU32(region + kResultOffset), 1u);
    InputRecord down = conclient::DecodeInputRecord(region + kDataOffset);
    EXPECT_EQ(down.eventType, conclient::kKeyEvent);
    EXPECT_TRUE(down.keyDown);
    EXPECT_EQ(down.asciiChar, 'q');

    // The next client takes the rest of that key: its release.
    InputRecord up;
    uint32_t result = 0;
    ASSERT_EQ(client_.ReadInput(&up, &result, e2e::kWaitMs), WaitResult::kReplied);
    EXPECT_EQ(result, 1u);
    EXPECT_FALSE(up.keyDown);
    EXPECT_EQ(up.asciiChar, 'q');
    ExitAndCheckTerminal();
}

// A terminating signal that comes while the server is inside a request, reading a half-typed
// line for a client, ends it with the terminal as it was (the idle case is in e2e_console_test).
class SignalDuringARead : public ServerForClients, public ::testing::WithParamInterface<int> {};

TEST_P(SignalDuringARead, LeavesTheTerminalAsItWas) {
    constexpr int kUnansweredReadMs = 2000;
    std::future<WaitResult> read = std::async(std::launch::async, [this] {
        std::string text;
        return client_.ReadText(10, &text, kUnansweredReadMs);
    });
    terminal_.Type("ab");
    ASSERT_TRUE(e2e::WaitUntil([&] { return terminal_.Row(0) == "ab"; }))
        << "the line is not being read: " << terminal_.ScreenText();
    server_.SignalServer(GetParam());
    conclient::ServerExit e = server_.WaitServerExit(e2e::kWaitMs);
    ASSERT_TRUE(e.ended);
    EXPECT_EQ(e.signal, GetParam());
    termios after{};
    ASSERT_EQ(tcgetattr(terminal_.SlaveFd(), &after), 0);
    EXPECT_TRUE(e2e::SameTermios(before_, after)) << "the terminal was left in raw mode";
    EXPECT_EQ(read.get(), WaitResult::kTimedOut);
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalDuringARead, ::testing::Values(SIGTERM, SIGHUP, SIGINT),
                         [](const ::testing::TestParamInfo<int>& signal) {
                             return std::string(sigabbrev_np(signal.param));
                         });

// Every turn answered, each one the answer to its own request: a peek resets the count the
// client preset and a clear the status, so a stale reply would show; and the cursor ends where
// the cursor moves, writes and clears of the flood put it.
TEST_F(DyingClients, FloodOfRequestsIsAnsweredTurnByTurn) {
    using namespace conclient;
    constexpr int kTurns = 100000;
    auto start = std::chrono::steady_clock::now();
    int16_t column = 0, row = 0;  // where the cursor must be
    for (int i = 0; i < kTurns; ++i) {
        ConsoleRequest r{};
        r.status = 0x1234;
        r.result = 0x5555;
        switch (i % 100) {
            case 10:
                r.command = ConPeekInput;
                r.dataOffset = kDataOffset;
                break;
            case 20:
                // Columns 0 to 60: the dot written next never wraps the line.
                column = static_cast<int16_t>(i % e2e::kScreenCols);
                row = static_cast<int16_t>(i % e2e::kScreenRows);
                r.command = ConSetCursor;
                r.dataOffset = column;
                r.count = static_cast<uint32_t>(row);
                break;
            case 30:
                client_.Region()[kDataOffset] = '.';
                r.command = ConWriteText;
                r.dataOffset = kDataOffset;
                r.count = 1;
                ++column;
                break;
            case 40:
                r.command = i % 1000 == 40 ? ConClearScreen : ConNop10;
                if (r.command == ConClearScreen) {
                    column = row = 0;
                }
                break;
            default:
                r.command = i % 2 == 0 ? ConNop5 : ConNop10;
                break;
        }
        const int32_t command = r.command;
        ASSERT_EQ(client_.Transact(&r, e2e::kWaitMs), WaitResult::kReplied) << "turn " << i;
        ASSERT_EQ(r.status, command == ConClearScreen ? 0 : 0x1234) << "turn " << i;
        ASSERT_EQ(r.result, command == ConPeekInput ? 0u : 0x5555u) << "turn " << i;
    }
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    std::cout << "[ timing   ] " << kTurns << " turns in " << elapsed.count() << " ms\n";

    ScreenInfo info;
    ASSERT_EQ(client_.GetScreenInfo(&info), WaitResult::kReplied);
    EXPECT_EQ(info.cursorX, column);
    EXPECT_EQ(info.cursorY, row);
    ExitAndCheckTerminal();
}

}  // namespace
