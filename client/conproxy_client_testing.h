// Hooks for the project's own tests and benchmarks, kept out of the installed header and library
// (they link conproxy_client_testing): start the server with other arguments or standard
// descriptors, and poke the events directly to set up states a well-behaved client never makes.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "conproxy_client.h"

namespace conclient {

struct TestStartOptions : StartOptions {
    // POSIX only: descriptors the server gets as 0, 1, 2 (-1: ours, or the terminal's).
    int stdinFd = -1;
    int stdoutFd = -1;
    int stderrFd = -1;
    // When given, these arguments replace the three names (to try bad command lines).
    std::optional<std::vector<std::string>> argsOverride;
};

class ClientTestAccess {
  public:
    static bool StartServer(ConproxyClient& client, const TestStartOptions& options,
                            std::string* error);
    static void SetRequestEvent(ConproxyClient& client);
    static void ResetReplyEvent(ConproxyClient& client);
    static bool ReplyEventIsSet(ConproxyClient& client);
};

}  // namespace conclient
