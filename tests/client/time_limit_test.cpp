// One meaning of a time-out at both ends: milliseconds from now, and any negative value no limit
// at all (never "already passed", never "the default"), in the client library's deadline and in
// the server's.
#include <gtest/gtest.h>

#include "client_platform.h"
#include "conproxy_protocol.h"
#include "deadline.h"

namespace {

TEST(TimeLimit, NegativeMeansNoLimitAtBothEnds) {
    static_assert(conclient::kNoTimeout == conproxy_protocol::kNoTimeLimit, "one no-limit");
    static_assert(conproxy::kWaitForever == conproxy_protocol::kNoTimeLimit, "one no-limit");
    static_assert(conclient::kClientReplyTimeout != conproxy_protocol::kNoTimeLimit,
                  "the client's default is not taken for no limit");
    constexpr int kCapMs = 50;
    for (const int timeoutMs : {conproxy_protocol::kNoTimeLimit, -2, -1000}) {
        SCOPED_TRACE(timeoutMs);
        const conproxy::Deadline server(timeoutMs);
        EXPECT_FALSE(server.Expired());
        EXPECT_EQ(server.RemainingMs(), conproxy::kWaitForever);
        const conclient::Deadline client(timeoutMs);
        EXPECT_FALSE(client.Expired());
        EXPECT_EQ(client.RemainingMs(kCapMs), kCapMs);
    }
    // Zero is a limit that has passed, at both ends.
    EXPECT_TRUE(conproxy::Deadline(0).Expired());
    EXPECT_TRUE(conclient::Deadline(0).Expired());
}

}  // namespace
