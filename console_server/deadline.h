// The server's time limits are the protocol's (time_limit.h): a negative time-out means no
// limit, as it does for the client library.
#pragma once

#include "conproxy_protocol.h"
#include "time_limit.h"

namespace conproxy {

// A time limit that means none, for the waits that take one.
constexpr int kWaitForever = conproxy_protocol::kNoTimeLimit;

using conproxy_protocol::Deadline;

}  // namespace conproxy
