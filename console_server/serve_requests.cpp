#include "serve_requests.h"

#include <cstdio>
#include <string>

#include "console.h"
#include "console_records.h"
#include "rendezvous.h"
#include "request_handlers.h"

namespace conproxy {

namespace {

// The region's name is formed in a buffer of this many characters, terminator included.
constexpr size_t kRegionNameBufferChars = 80;
constexpr char kRegionNamePrefix[] = "Mapping";

// One line on stderr, never on the console being served. refusal, when given, says why an
// existing object was not accepted.
void ReportFailure(const char* what, const std::string& name, SystemError code,
                   const std::string& refusal = std::string()) {
    if (!refusal.empty()) {
        std::fprintf(stderr, "conproxy: %s \"%s\": it %s\n", what, name.c_str(), refusal.c_str());
        return;
    }
    std::fprintf(stderr, "conproxy: %s \"%s\": error %lu (%s)\n", what, name.c_str(), code,
                 DescribeSystemError(code).c_str());
}

// Two names alike would make the server wake itself (one event for both) or take an event's
// word for the request; refused before anything is made. True after reporting it.
bool NamesCoincide(const std::string& regionName, const std::string& requestName,
                   const std::string& replyName) {
    const char* why = nullptr;
    const std::string* name = &requestName;
    if (requestName == replyName) {
        why = "names both the request and the reply event";
    } else if (requestName == regionName || replyName == regionName) {
        why = "names both the region and an event";
        name = &regionName;
    }
    if (why != nullptr) {
        std::fprintf(stderr, "conproxy: \"%s\" %s\n", name->c_str(), why);
    }
    return why != nullptr;
}

}  // namespace

int ServeRequests(int argc, char** argv) {
    if (argc < 4) {
        return kExitTooFewArguments;
    }
    const std::string regionName = std::string(kRegionNamePrefix) + argv[1];
    const std::string requestName = argv[2];
    const std::string replyName = argv[3];

    // Refused before anything is created: a longer name would not fit the buffer, and an event
    // without a name could never be reached by the client.
    if (regionName.size() >= kRegionNameBufferChars) {
        std::fprintf(stderr, "conproxy: region name \"%s\" longer than %zu characters\n",
                     regionName.c_str(), kRegionNameBufferChars - 1);
        return kExitStartupFailed;
    }
    if (requestName.empty() || replyName.empty()) {
        std::fprintf(stderr, "conproxy: an event name is empty\n");
        return kExitStartupFailed;
    }
    if (NamesCoincide(regionName, requestName, replyName)) {
        return kExitStartupFailed;
    }

    SystemError error = 0;
    std::unique_ptr<Console> console = OpenConsole(error);
    if (!console) {
        ReportFailure("cannot set up the console", "stdin", error);
        return kExitStartupFailed;
    }
    RequestRegion region;
    if ((error = region.CreateOrOpen(regionName)) != 0) {
        ReportFailure("cannot create or map the region", regionName, error, region.Refusal());
        return kExitStartupFailed;
    }
    NamedEvent requestEvent;
    if ((error = requestEvent.CreateOrOpen(requestName)) != 0) {
        ReportFailure("cannot create or open the request event", requestName, error,
                      requestEvent.Refusal());
        return kExitStartupFailed;
    }
    NamedEvent replyEvent;
    if ((error = replyEvent.CreateOrOpen(replyName)) != 0) {
        ReportFailure("cannot create or open the reply event", replyName, error,
                      replyEvent.Refusal());
        return kExitStartupFailed;
    }

    // Ready. Neither event is reset here: a request already standing is served at once.
    replyEvent.Set();
    for (;;) {
        if (!requestEvent.Wait()) {
            error = LastSystemError();
            ReportFailure("wait failed on the request event", requestName, error);
            return kExitWaitFailed;
        }
        requestEvent.Reset();
        const bool exitRequested = HandleRequest(region, *console);
        replyEvent.Set();
        if (exitRequested) {
            return kExitDone;
        }
    }
}

}  // namespace conproxy
