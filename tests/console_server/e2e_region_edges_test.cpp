// conproxy serving data at the edges of its region: data ending at the last byte or one past it,
// data over the request record, a region the client shrinks under the server, and one the
// client made smaller than 8192 bytes before the server started.
#include "conproxy_protocol.h"
#include "e2e_client_fixture.h"

namespace {

using namespace e2e_faults;
using conclient::ConproxyClient;
using conclient::InputRecord;
using conclient::WaitResult;

class RegionEdges : public ServerForClients {};

// Requests whose data end exactly at the last byte of the region are carried out; one byte
// further and they are answered without touching anything. Bytes outside the data stay as
// they were either way.
struct EdgeCase {
    const char* name;
    int32_t command;
    int32_t dataOffset;
    uint32_t count;
    std::string typed;  // keys typed before the request
    std::string data;   // placed at the offset (the part inside the region) for a write
    bool served;
    size_t writtenBytes;  // bytes the server may write at the offset when served
};

TEST_F(RegionEdges, DataAtTheEdgesOfTheRegion) {
    using namespace conclient;
    const int32_t end = static_cast<int32_t>(kRegionBytes);
    const EdgeCase cases[] = {
        {"read input, record ends at the last byte", ConReadInput, end - 20, 0, "k", "", true, 20},
        {"read input, one byte past", ConReadInput, end - 19, 0, "k", "", false, 0},
        {"peek input, record ends at the last byte", ConPeekInput, end - 20, 0, "k", "", true, 20},
        {"screen info ends at the last byte", ConGetScreenInfo, end - 22, 0, "", "", true, 22},
        {"screen info, one byte past", ConGetScreenInfo, end - 21, 0, "", "", false, 0},
        {"read text, count to the last byte", ConReadText, end - 5, 5, "abc\r", "", true, 5},
        {"read text, count one past", ConReadText, end - 4, 5, "abc\r", "", false, 0},
        {"write text to the last byte", ConWriteText, end - 6, 6, "", "EDGE!!", true, 0},
        {"write text, one past", ConWriteText, end - 5, 6, "", "NOPE!", false, 0},
        {"write text, nothing at the very end", ConWriteText, end, 0, "", "", true, 0},
    };
    uint8_t* region = client_.Region();
    for (const EdgeCase& c : cases) {
        SCOPED_TRACE(c.name);
        DrainInput();
        std::memset(region + kRecordBytes, kFill, kRegionBytes - kRecordBytes);
        std::memcpy(region + c.dataOffset, c.data.data(), c.data.size());
        std::vector<uint8_t> before(region, region + kRegionBytes);
        terminal_.Type(c.typed);
        size_t shownBefore = terminal_.BytesReceived();

        conclient::ConsoleRequest r{};
        r.command = c.command;
        r.dataOffset = c.dataOffset;
        r.count = c.count;
        r.result = 0x5555;
        ASSERT_EQ(client_.Transact(&r, e2e::kWaitMs), WaitResult::kReplied);

        const size_t from = static_cast<size_t>(c.dataOffset);
        const size_t to = c.served ? from + c.writtenBytes : from;
        for (size_t i = kRecordBytes; i < kRegionBytes; ++i) {
            if ((i < from || i >= to) && region[i] != before[i]) {
                ADD_FAILURE() << "byte " << i << " changed";
                break;
            }
        }
        const bool input = c.command == ConReadInput || c.command == ConPeekInput;
        if (input || c.command == ConReadText) {
            EXPECT_EQ(r.result, c.served ? c.writtenBytes / (input ? 20 : 1) : 0u);
        }
        if (input && c.served) {
            InputRecord got = DecodeInputRecord(region + c.dataOffset);
            EXPECT_EQ(got.eventType, kKeyEvent);
            EXPECT_EQ(got.asciiChar, 'k');
        }
        if (c.command == ConGetScreenInfo && c.served) {
            ScreenInfo info = DecodeScreenInfo(region + c.dataOffset);
            EXPECT_EQ(info.sizeX, e2e::kScreenCols);
            EXPECT_EQ(info.sizeY, e2e::kScreenRows);
        }
        if (c.command == ConReadText && c.served) {
            EXPECT_EQ(std::string(reinterpret_cast<char*>(region + c.dataOffset), 5), "abc\r\n");
        }
        if (!c.served && !c.typed.empty()) {
            InputRecord next;
            uint32_t result = 0;
            ASSERT_EQ(client_.PeekInput(&next, &result), WaitResult::kReplied);
            EXPECT_EQ(result, 1u) << "a refused request took the typed input";
        }
        if (c.command == ConWriteText) {
            ASSERT_EQ(client_.Nop(ConNop10), WaitResult::kReplied);
            if (c.served && !c.data.empty()) {
                EXPECT_TRUE(e2e::WaitUntil([&] {
                    return terminal_.ScreenText().find(c.data) != std::string::npos;
                })) << terminal_.ScreenText();
            } else {
                EXPECT_EQ(terminal_.BytesReceived(), shownBefore);
            }
        }
    }
    ExitAndCheckTerminal();
}

// Data at an offset below 20 lie over the record. The server takes the request before it
// writes, places the data where asked, and writes its count last: that is what the client reads.
TEST_F(RegionEdges, DataOverTheRequestRecordAreWhatTheClientAskedFor) {
    using namespace conclient;
    uint8_t* region = client_.Region();

    DrainInput();
    terminal_.Type("k");
    ConsoleRequest r{};
    r.command = ConReadInput;
    r.dataOffset = 0;
    ASSERT_EQ(client_.Transact(&r, e2e::kWaitMs), WaitResult::kReplied);
    InputRecord atZero = DecodeInputRecord(region);
    EXPECT_EQ(atZero.eventType, kKeyEvent);
    EXPECT_TRUE(atZero.keyDown);
    EXPECT_EQ(atZero.asciiChar, 'k');
    EXPECT_EQ(ReadU32(region + kResultOffset), 1u);  // over the record's key state

    // At 19 the count's last byte overlays the record's first: the record follows from byte 20
    // as a peek at a free place shows it.
    r = ConsoleRequest{};
    r.command = ConPeekInput;
    r.dataOffset = 19;
    ASSERT_EQ(client_.Transact(&r, e2e::kWaitMs), WaitResult::kReplied);
    EXPECT_EQ(r.result, 1u);
    std::vector<uint8_t> overlaid(region + 20, region + 39);
    InputRecord same;
    uint32_t result = 0;
    ASSERT_EQ(client_.PeekInput(&same, &result), WaitResult::kReplied);
    ASSERT_EQ(result, 1u);
    EXPECT_EQ(overlaid, std::vector<uint8_t>(region + kDataOffset + 1, region + kDataOffset + 20));
    DrainInput();

    r = ConsoleRequest{};
    r.command = ConGetScreenInfo;
    r.dataOffset = 0;
    r.result = 0x5555;
    ASSERT_EQ(client_.Transact(&r, e2e::kWaitMs), WaitResult::kReplied);
    ScreenInfo info = DecodeScreenInfo(region);
    EXPECT_EQ(info.sizeX, e2e::kScreenCols);
    EXPECT_EQ(info.sizeY, e2e::kScreenRows);
    EXPECT_EQ(info.maxX, e2e::kScreenCols);
    EXPECT_EQ(info.maxY, e2e::kScreenRows);

    // Six characters from byte 6 cover the request's own offset field.
    terminal_.Type("wxyz\r");
    r = ConsoleRequest{};
    r.command = ConReadText;
    r.dataOffset = 6;
    r.count = 6;
    ASSERT_EQ(client_.Transact(&r, e2e::kWaitMs), WaitResult::kReplied);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(region + 6), 6), "wxyz\r\n");
    EXPECT_EQ(r.result, 6u);
    ExitAndCheckTerminal();
}

// A client that shrinks the region after the server mapped it: the pages past the new end are
// gone, and touching one would kill the server (SIGBUS) with its terminal left raw. The server
// serves what is there at each request and answers the rest as reaching outside the region.
TEST_F(RegionEdges, RegionShrunkUnderTheServerIsServedAsFarAsItGoes) {
    using namespace conclient;
    constexpr size_t kShrunkBytes = 4096;
    e2e::Fd region(
        shm_open(("/" + conproxy_protocol::RegionName(names_.suffix)).c_str(), O_RDWR, 0));
    ASSERT_GE(region.Get(), 0) << std::strerror(errno);
    ASSERT_EQ(ftruncate(region.Get(), kShrunkBytes), 0);

    const struct {
        int32_t command;
        int32_t dataOffset;
        uint32_t count;
    } pastTheEnd[] = {{ConGetScreenInfo, 8192 - 22, 0},
                      {ConPeekInput, kShrunkBytes - 19, 0},
                      {ConReadText, 6000, 10},
                      {ConWriteText, kShrunkBytes - 1, 2}};
    for (const auto& c : pastTheEnd) {
        SCOPED_TRACE(std::to_string(c.command) + " at " + std::to_string(c.dataOffset));
        ConsoleRequest r{};
        r.command = c.command;
        r.dataOffset = c.dataOffset;
        r.count = c.count;
        ASSERT_EQ(client_.Transact(&r, e2e::kWaitMs), WaitResult::kReplied);
    }
    ConsoleRequest r{};
    r.command = ConGetScreenInfo;
    r.dataOffset = static_cast<int32_t>(kShrunkBytes - 22);
    ASSERT_EQ(client_.Transact(&r, e2e::kWaitMs), WaitResult::kReplied);
    ScreenInfo info = DecodeScreenInfo(client_.Region() + r.dataOffset);
    EXPECT_EQ(info.sizeX, e2e::kScreenCols);

    ASSERT_EQ(ftruncate(region.Get(), kRegionBytes), 0);
    ExitAndCheckTerminal();
}

// On POSIX both sides grow a region that is smaller than 8192 bytes (ftruncate up), so a region
// the client made small is served whole once the server has started on it.
TEST(SmallRegion, ServerGrowsARegionTheClientMadeSmallerAndServesAllOfIt) {
    e2e::EmulatedTerminal terminal;
    ASSERT_TRUE(terminal.Ok());
    conclient::ClientNames names = conclient::UniqueNames();
    e2e::ShmNamesGuard guard(names.suffix, names.requestEvent, names.replyEvent);
    const std::string path = "/" + conproxy_protocol::RegionName(names.suffix);
    e2e::Fd region(shm_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600));
    ASSERT_GE(region.Get(), 0) << std::strerror(errno);
    ASSERT_EQ(ftruncate(region.Get(), 4096), 0);

    ConproxyClient server;
    conclient::TestStartOptions o;
    o.serverPath = e2e::ServerPath();
    o.newSession = true;
    o.ttyPath = terminal.SlavePath();
    o.argsOverride = std::vector<std::string>{names.suffix, names.requestEvent, names.replyEvent};
    std::string error;
    ASSERT_TRUE(conclient::ClientTestAccess::StartServer(server, o, &error)) << error;
    ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ShmExists(names.replyEvent); }));
    ASSERT_TRUE(e2e::WaitUntil([&] {
        struct stat st {};
        return fstat(region.Get(), &st) == 0 && st.st_size == static_cast<off_t>(kRegionBytes);
    })) << "the server did not grow the region";

    ConproxyClient client;
    ASSERT_TRUE(client.Open(names, &error)) << error;
    ASSERT_EQ(client.WaitReady(e2e::kWaitMs), WaitResult::kReplied);
    conclient::ConsoleRequest r{};
    r.command = conclient::ConGetScreenInfo;
    r.dataOffset = static_cast<int32_t>(kRegionBytes - 22);
    ASSERT_EQ(client.Transact(&r, e2e::kWaitMs), WaitResult::kReplied);
    conclient::ScreenInfo info = conclient::DecodeScreenInfo(client.Region() + r.dataOffset);
    EXPECT_EQ(info.sizeX, e2e::kScreenCols);
    EXPECT_EQ(info.sizeY, e2e::kScreenRows);
    ASSERT_EQ(client.Exit(nullptr), WaitResult::kReplied);
    conclient::ServerExit e = server.WaitServerExit(e2e::kWaitMs);
    ASSERT_TRUE(e.ended);
    EXPECT_EQ(e.code, 0);
    // The region was the client's: the server leaves it; the events were the server's.
    EXPECT_TRUE(e2e::ShmExists(conproxy_protocol::RegionName(names.suffix)));
    EXPECT_FALSE(e2e::ShmExists(names.requestEvent));
}

}  // namespace
