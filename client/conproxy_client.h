// Client side of the conproxy request protocol: one ConproxyClient owns the request region
// and the two events, starts conproxy (or attaches to one already started) and takes turns with
// it one request at a time. The platform file (client_posix.cpp / client_win32.cpp) holds the
// named objects and the process; client_commands.cpp builds the turn and the ten commands.
//
// After a reply that did not come (kTimedOut, kStopped) the server may still be working on that
// request and answer into the region later. Every later call then fails at once with kOutOfStep,
// touching nothing, until that late reply has come (its answer is dropped) or Open() is called
// again; so the answer to one request is never taken for the answer to the next.
//
// Text is bytes, in the server's console code page (866): WriteText sends its bytes as given and
// ReadText returns the bytes the server delivered. conproxy_text.h converts the user's text to
// those bytes and back.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "conproxy_protocol.h"

namespace conclient {

// The record, the codes, the sizes and the records' layout are the protocol's, which conproxy
// compiles too (conproxy_protocol.h, installed beside this header); here under the client's names.
using ConsoleRequest = conproxy_protocol::ConsoleRequest;
constexpr size_t kRegionBytes = conproxy_protocol::kRegionBytes;
// Data goes past the record (an offset below 20 would overlay it).
constexpr int32_t kDefaultDataOffset = 64;
constexpr int kDefaultReplyTimeoutMs = 10000;
// Time-outs are milliseconds; a negative one means no limit, as for conproxy: wait as long as
// the server lives (a person at the keyboard). kNoTimeout says so by name.
constexpr int kNoTimeout = conproxy_protocol::kNoTimeLimit;
// As a time-out argument, and only there: the client's own reply time-out (SetReplyTimeout).
// Not a time and not "no limit"; every other negative value is.
constexpr int kClientReplyTimeout = INT_MIN;

using CommandCode = conproxy_protocol::CommandCode;
using conproxy_protocol::ConClearScreen;
using conproxy_protocol::ConExit;
using conproxy_protocol::ConGetScreenInfo;
using conproxy_protocol::ConNop10;
using conproxy_protocol::ConNop5;
using conproxy_protocol::ConPeekInput;
using conproxy_protocol::ConReadInput;
using conproxy_protocol::ConReadText;
using conproxy_protocol::ConSetCursor;
using conproxy_protocol::ConWriteText;

// The Windows records as conproxy places them in the region, decoded into plain fields.
using conproxy_protocol::kEnhancedKey;
using conproxy_protocol::kInputRecordBytes;
using conproxy_protocol::kKeyEvent;
using conproxy_protocol::kScreenInfoBytes;
using conproxy_protocol::kWindowBufferSizeEvent;

struct InputRecord {
    uint16_t eventType = 0;
    // KEY_EVENT
    bool keyDown = false;
    uint16_t repeatCount = 0;
    uint16_t virtualKeyCode = 0;
    uint16_t virtualScanCode = 0;
    uint8_t asciiChar = 0;
    uint32_t controlKeyState = 0;
    // WINDOW_BUFFER_SIZE_EVENT
    int16_t sizeX = 0;
    int16_t sizeY = 0;
};
InputRecord DecodeInputRecord(const uint8_t* bytes);

struct ScreenInfo {
    int16_t sizeX = 0, sizeY = 0;
    int16_t cursorX = 0, cursorY = 0;
    uint16_t attributes = 0;
    int16_t left = 0, top = 0, right = 0, bottom = 0;
    int16_t maxX = 0, maxY = 0;
};
ScreenInfo DecodeScreenInfo(const uint8_t* bytes);

struct ClientNames {
    std::string suffix;        // region is conproxy_protocol::RegionName(suffix)
    std::string requestEvent;  // RequestEvent's name
    std::string replyEvent;    // ReplyEvent's name
};
// Names unique to this process and call, and hard to guess: pid, random bits and a counter.
ClientNames UniqueNames();
// conproxy beside the running program (Linux: /proc/self/exe, argv0 only without /proc;
// Windows: GetModuleFileName); where there is none, the bare name, which StartServer looks up
// on PATH (never in the current folder).
std::string DefaultServerPath(const char* argv0);

// The server gets our standard descriptors 0-2 (POSIX: no others) and our console (Windows).
// POSIX: standard input is the server's keyboard, so when ours is no terminal (a script, data)
// the server's is our controlling terminal while we are its foreground, else /dev/null.
struct StartOptions {
    // A path with a slash (Windows: or a backslash or a drive) is run as it is; a bare name is
    // looked up on PATH (never taken from the current directory).
    std::string serverPath;
    // POSIX only: start the server in its own session; with ttyPath it opens that terminal
    // as its standard input, output and error, making it its controlling terminal.
    bool newSession = false;
    std::string ttyPath;
};

enum class WaitResult {
    kReplied,     // the event was set
    kTimedOut,    // deadline passed
    kServerDied,  // the server we started has ended
    kFailed,      // the wait itself failed
    kStopped,     // StopWaiting() was called (e.g. from a signal handler)
    kOutOfStep,   // an earlier reply has not come yet; nothing was sent (see the top)
};
const char* WaitResultName(WaitResult r);

// Makes every wait of every client return kStopped from now on; safe in a signal handler.
void StopWaiting();
// Calls StopWaiting() on Ctrl+C and termination requests (POSIX: SIGINT, SIGTERM, SIGHUP),
// so that a program can end through its destructors and remove the names it created. POSIX: every
// other signal whose default ends the process (SIGPIPE, SIGQUIT, ...), where it still has that
// default, removes the names this process created and then ends it as before.
void StopWaitingOnSignals();

// Exit of the server we started: exited with code, or killed by signal.
struct ServerExit {
    bool ended = false;
    bool exited = false;
    int code = 0;    // exit status when exited
    int signal = 0;  // signal number when killed
};

class ConproxyClient {
  public:
    ConproxyClient();
    // Kills a server we started that is still running, reaps it, unlinks the names we created.
    ~ConproxyClient();
    ConproxyClient(const ConproxyClient&) = delete;
    ConproxyClient& operator=(const ConproxyClient&) = delete;

    // Create or open the region and both events. An existing object is accepted only when it
    // is safely ours (POSIX: owned by our effective user, no group or other permission bits);
    // otherwise, and on any other failure, false with *error saying which object and why.
    bool Open(const ClientNames& names, std::string* error);
    // Start conproxy with the three names (after Open). False with *error on failure.
    bool StartServer(const StartOptions& options, std::string* error);
    // How long every wait for a reply lasts unless a call names its own time-out.
    void SetReplyTimeout(int timeoutMs) { replyTimeoutMs_ = timeoutMs; }
    // Wait for the ready signal (ReplyEvent set once at start).
    WaitResult WaitReady(int timeoutMs = kClientReplyTimeout);

    // One turn: reset ReplyEvent, write the record, set RequestEvent, wait for ReplyEvent.
    // *request is sent as given and updated from the region afterwards. Time-outs are in
    // milliseconds, or kClientReplyTimeout, or negative (kNoTimeout): no limit.
    WaitResult Transact(ConsoleRequest* request, int timeoutMs = kClientReplyTimeout);
    // The raw request for any code; status/result fields are sent as currently in the region.
    // *out is the record as the region holds it after the turn.
    WaitResult Raw(int32_t command, int32_t dataOffset, uint32_t count, ConsoleRequest* out,
                   int timeoutMs = kClientReplyTimeout);

    // Commands; each returns how the turn ended and fills its results on kReplied.
    WaitResult ClearScreen(int32_t* status);
    WaitResult Exit(int32_t* status);
    WaitResult GetScreenInfo(ScreenInfo* info);
    WaitResult SetCursor(int16_t column, int16_t row);
    WaitResult Nop(int32_t code);  // ConNop5 or ConNop10
    WaitResult PeekInput(InputRecord* record, uint32_t* result);
    WaitResult ReadInput(InputRecord* record, uint32_t* result,
                         int timeoutMs = kClientReplyTimeout);
    WaitResult ReadText(uint32_t count, std::string* text, int timeoutMs = kClientReplyTimeout);
    WaitResult WriteText(const std::string& bytes);

    // The region (kRegionBytes) and the names in use.
    uint8_t* Region();
    const ClientNames& Names() const;

    // POSIX pid / Windows process id of the server we started, 0 if none.
    long ServerPid() const;
    // Wait up to timeoutMs (negative: no limit) for the started server to end.
    ServerExit WaitServerExit(int timeoutMs);
    // Ask the started server to end (POSIX: the given signal; Windows: terminate).
    void SignalServer(int signalNumber);

  private:
    int ReplyTimeout(int timeoutMs) const {
        return timeoutMs == kClientReplyTimeout ? replyTimeoutMs_ : timeoutMs;
    }
    // Sends a request that leaves one input record at the data offset (peek or read).
    WaitResult InputRecordRequest(int32_t command, InputRecord* record, uint32_t* result,
                                  int timeoutMs);
    // Sends a request whose only answer is `status` (clear screen, exit).
    WaitResult StatusRequest(int32_t command, int32_t* status);
    // True when the region may be used for a new request; else false with *refusal saying why
    // (kOutOfStep, or kFailed without a region). Every public call asks once, before it
    // touches the region.
    bool MayTakeTurn(WaitResult* refusal);
    // After MayTakeTurn(): writes *request to the region, takes the turn, and on kReplied reads the
    // record back into *request.
    WaitResult Send(ConsoleRequest* request, int timeoutMs);
    // After MayTakeTurn(), with the record already in the region: announces it and waits.
    WaitResult Turn(int timeoutMs);

    friend class ClientTestAccess;  // the project's own tests (not installed)
    struct Impl;
    std::unique_ptr<Impl> impl_;
    int replyTimeoutMs_ = kDefaultReplyTimeoutMs;
};

}  // namespace conclient
