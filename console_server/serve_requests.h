// The server's main function in three steps: the command line checked, start-up (the console and
// the named objects, their clean-up on an ending signal registered), then the turn-taking loop
// with the client until ConExit.
#pragma once

namespace conproxy {

// Exit statuses.
constexpr int kExitDone = 0;
constexpr int kExitTooFewArguments = 32;
constexpr int kExitStartupFailed = 33;
constexpr int kExitWaitFailed = 34;
constexpr int kExitOutOfMemory = 35;  // after the terminal is restored and the names removed

int ServeRequests(int argc, char** argv);

}  // namespace conproxy
