// Inside the client library (not installed): the few primitives each platform file provides
// (client_posix.cpp, client_win32.cpp) for the named objects and the server process, on which
// client_commands.cpp builds the turn, the names and the commands once.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "conproxy_client.h"
#include "time_limit.h"

namespace conclient {

// Set by StopWaiting(), possibly from a signal handler; every wait looks at it.
extern std::atomic<bool> gStopWaiting;

// The time limit of a wait, counted as conproxy counts it (a negative time-out: no limit).
using conproxy_protocol::Deadline;

// Standard descriptors for a started server (POSIX; -1 keeps ours). Tests only.
struct ServerStdio {
    int stdinFd = -1;
    int stdoutFd = -1;
    int stderrFd = -1;
};

// The named objects and the started server of one platform.
class PlatformLink {
  public:
    virtual ~PlatformLink() = default;
    // Creates or opens the region (kRegionBytes) and the two events by their full names; false
    // with *error.
    virtual bool Open(const std::string& regionName, const std::string& requestEvent,
                      const std::string& replyEvent, std::string* error) = 0;
    virtual uint8_t* Region() const = 0;
    virtual void SetRequestEvent() = 0;
    virtual void ResetReplyEvent() = 0;
    virtual bool ReplyEventIsSet() = 0;
    // Waits for ReplyEvent (timeoutMs < 0: as long as the server lives), noticing a started
    // server that ends and StopWaiting().
    virtual WaitResult WaitReply(int timeoutMs) = 0;
    // Starts the server with args (program name first) and, POSIX, only descriptors 0-2.
    virtual bool Spawn(const std::vector<std::string>& args, const StartOptions& options,
                       const ServerStdio& stdio, std::string* error) = 0;
    virtual long ServerPid() const = 0;
    virtual ServerExit WaitServerExit(int timeoutMs) = 0;
    virtual void SignalServer(int signalNumber) = 0;
};

std::unique_ptr<PlatformLink> MakePlatformLink();
// Names: process id and random bits for unique names, the server's file.
extern const char* const kServerFileName;
unsigned long ProcessId();
uint32_t RandomBits();

struct ConproxyClient::Impl {
    std::unique_ptr<PlatformLink> link = MakePlatformLink();
    ClientNames names;
    // A reply never came (time-out, stopped wait): the server may still answer into the region.
    bool outOfStep = false;
};

}  // namespace conclient
