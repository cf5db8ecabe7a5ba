#include "serve_requests.h"

#include <cstdio>
#include <string>

#include "console.h"
#include "console_records.h"
#include "rendezvous.h"
#include "request_handlers.h"
#include "startup.h"

namespace conproxy {

namespace {

// The region's name is formed in a buffer of this many characters, terminator included.
constexpr size_t kRegionNameBufferChars = 80;
constexpr char kRegionNamePrefix[] = "Mapping";

// A name as the client chose it, shown so that it cannot drive the terminal the line lands on:
// control bytes, and the backslash that introduces an escape, as \xNN.
std::string ShowName(const std::string& name) {
    std::string shown;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f || byte == '\\') {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

// One line on stderr, never on the console being served. refusal, when given, says why an
// existing object was not accepted.
void ReportFailure(const char* what, const std::string& name, SystemError code,
                   const std::string& refusal = std::string()) {
    if (!refusal.empty()) {
        std::fprintf(stderr, "conproxy: %s \"%s\": it %s\n", what, ShowName(name).c_str(),
                     refusal.c_str());
        return;
    }
    std::fprintf(stderr, "conproxy: %s \"%s\": error %lu (%s)\n", what, ShowName(name).c_str(),
                 code, DescribeSystemError(code).c_str());
}

// An event call failed while serving: a cut object says so, anything else with the system's
// reason. The exit status is the wait failure's.
int ReportEventFailure(const char* what, const NamedEvent& event, const std::string& name) {
    const SystemError error = LastSystemError();
    if (!event.Intact()) {
        std::fprintf(stderr, "conproxy: %s \"%s\": the object was cut below its state word\n", what,
                     ShowName(name).c_str());
    } else {
        ReportFailure(what, name, error);
    }
    return kExitWaitFailed;
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
        std::fprintf(stderr, "conproxy: \"%s\" %s\n", ShowName(*name).c_str(), why);
    }
    return why != nullptr;
}

}  // namespace

int ServeRequests(int argc, char** argv) {
    OpenClosedStandardDescriptors();
    int status = 0;
    if (AnswerInformationRequest(argc, argv, status)) {
        return status;
    }
    if (argc < 4) {
        ShowUsage();
        return kExitTooFewArguments;
    }
    const std::string regionName = std::string(kRegionNamePrefix) + argv[1];
    const std::string requestName = argv[2];
    const std::string replyName = argv[3];

    // Refused before anything is created: a longer name would not fit the buffer, and an event
    // without a name could never be reached by the client.
    if (regionName.size() >= kRegionNameBufferChars) {
        std::fprintf(stderr, "conproxy: region name \"%s\" longer than %zu characters\n",
                     ShowName(regionName).c_str(), kRegionNameBufferChars - 1);
        return kExitStartupFailed;
    }
    if (requestName.empty() || replyName.empty()) {
        std::fprintf(stderr, "conproxy: an event name is empty\n");
        return kExitStartupFailed;
    }
    if (NamesCoincide(regionName, requestName, replyName)) {
        return kExitStartupFailed;
    }

    RemoveCreatedNamesOnEndingSignals();
    const std::string refusal = ConsoleRefusal();
    if (!refusal.empty()) {
        std::fprintf(stderr, "conproxy: cannot take the terminal on standard input: %s\n",
                     refusal.c_str());
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

    const int waitSliceMs = FollowStartingClient(region);

    // Ready. Neither event is reset here: a request already standing is served at once.
    if (!replyEvent.Set()) {
        return ReportEventFailure("cannot set the reply event", replyEvent, replyName);
    }
    for (;;) {
        const EventWait woken = requestEvent.Wait(waitSliceMs);
        if (woken == EventWait::kTimedOut) {
            if (StartingClientGone()) {
                return EndForLostClient();
            }
            continue;
        }
        if (woken == EventWait::kFailed) {
            return ReportEventFailure("wait failed on the request event", requestEvent,
                                      requestName);
        }
        if (!requestEvent.Reset()) {
            return ReportEventFailure("cannot reset the request event", requestEvent, requestName);
        }
        const bool exitRequested = HandleRequest(region, *console);
        if (!replyEvent.Set()) {
            return ReportEventFailure("cannot set the reply event", replyEvent, replyName);
        }
        if (exitRequested) {
            return kExitDone;
        }
    }
}

}  // namespace conproxy
