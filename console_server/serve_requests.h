// The server's main function: start-up from the command line, then the turn-taking loop with
// the client until ConExit.
#pragma once

// Exit statuses.
constexpr int kExitDone = 0;
constexpr int kExitTooFewArguments = 32;
constexpr int kExitStartupFailed = 33;
constexpr int kExitWaitFailed = 34;

int ServeRequests(int argc, char** argv);
