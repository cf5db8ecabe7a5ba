#include "serve_requests.h"

#include <cstdio>
#include <memory>
#include <string>

#include "console.h"
#include "console_records.h"
#include "rendezvous.h"
#include "request_handlers.h"
#include "startup.h"
#include "utf8_decode.h"

namespace conproxy {

namespace {

void AppendEscaped(unsigned char byte, std::string& shown) {
    char escaped[5];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
    shown += escaped;
}

// A name as the client chose it, shown so that it cannot drive the terminal the line lands on:
// every byte of a control character (C0, DEL, C1: 0x9B alone is a CSI to many terminals) and
// every byte that is no UTF-8 as \xNN, and so the backslash that introduces an escape; the rest
// of the text as it is. A Windows name is in the ANSI code page: there each byte is a character.
std::string ShowName(const std::string& name) {
    std::string shown;
    size_t at = 0;
    while (at < name.size()) {
        char32_t c = static_cast<unsigned char>(name[at]);
        const size_t length = kReportedNamesAreUtf8 ? conproxy_protocol::DecodeUtf8(name, at, c) : 1;
        if (length == 0) {
            AppendEscaped(static_cast<unsigned char>(name[at]), shown);
            ++at;
            continue;
        }
        const bool c1 = kReportedNamesAreUtf8 && c >= 0x80 && c < 0xA0;
        if (c < 0x20 || c == 0x7F || c1 || c == '\\') {
            for (size_t i = 0; i < length; ++i) {
                AppendEscaped(static_cast<unsigned char>(name[at + i]), shown);
            }
        } else {
            shown.append(name, at, length);
        }
        at += length;
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

// The three names as the command line gives them, checked before anything is made.
struct ServerNames {
    std::string region;
    std::string request;
    std::string reply;
};

// What the loop serves with, made in this order and gone in the reverse one.
struct ServingSession {
    std::unique_ptr<Console> console;
    NamedRegion region;
    NamedEvent requestEvent;
    NamedEvent replyEvent;
    int waitSliceMs = kWaitForever;
};

// Step one: the command line. Refused before anything is created: a longer name would not fit
// the buffer, and an event without a name could never be reached by the client. False with the
// exit status when the server must not start.
bool CheckArguments(int argc, char** argv, ServerNames& names, int& status) {
    if (AnswerInformationRequest(argc, argv, status)) {
        return false;
    }
    if (argc < 1 + conproxy_protocol::kServerNameArguments) {
        ShowUsage();
        status = kExitTooFewArguments;
        return false;
    }
    const conproxy_protocol::ObjectNames given = conproxy_protocol::NamesFromArguments(argv);
    names.region = conproxy_protocol::RegionName(given.suffix);
    names.request = given.request;
    names.reply = given.reply;
    status = kExitStartupFailed;
    switch (conproxy_protocol::CheckNames(given)) {
        case conproxy_protocol::NameFault::kNone:
            return true;
        case conproxy_protocol::NameFault::kSuffixTooLong:
            std::fprintf(stderr, "conproxy: region name \"%s\" longer than %zu characters\n",
                         ShowName(names.region).c_str(),
                         conproxy_protocol::kRegionNameBufferChars - 1);
            return false;
        case conproxy_protocol::NameFault::kEventNameEmpty:
            std::fprintf(stderr, "conproxy: an event name is empty\n");
            return false;
        case conproxy_protocol::NameFault::kEventsCoincide:
            std::fprintf(stderr, "conproxy: \"%s\" %s\n", ShowName(names.request).c_str(),
                         DescribeNameFault(conproxy_protocol::NameFault::kEventsCoincide));
            return false;
        case conproxy_protocol::NameFault::kEventNamedAsRegion:
            std::fprintf(stderr, "conproxy: \"%s\" %s\n", ShowName(names.region).c_str(),
                         DescribeNameFault(conproxy_protocol::NameFault::kEventNamedAsRegion));
            return false;
    }
    return false;
}

// Step two: the console, then the three objects. An ending signal from here on restores the
// terminal and removes the names this process created. False after reporting a failure.
bool StartUp(const ServerNames& names, ServingSession& session) {
    SetEndingCleanUp(RemoveCreatedNames);
    if (!InstallSignalOwners()) {
        const SystemError error = LastSystemError();
        std::fprintf(stderr, "conproxy: cannot install the signal handlers: error %lu (%s)\n",
                     error, DescribeSystemError(error).c_str());
        return false;
    }
    const std::string refusal = ConsoleRefusal();
    if (!refusal.empty()) {
        std::fprintf(stderr, "conproxy: cannot take the terminal on standard input: %s\n",
                     refusal.c_str());
        return false;
    }
    SystemError error = 0;
    session.console = OpenConsole(error);
    if (!session.console) {
        ReportFailure("cannot set up the console", "stdin", error);
        return false;
    }
    if ((error = session.region.CreateOrOpen(names.region)) != 0) {
        ReportFailure("cannot create or map the region", names.region, error,
                      session.region.Refusal());
        return false;
    }
    // Asked before the events exist: whoever opens the names after us (a test waiting for them,
    // a client attaching late) cannot be taken for the client that started us.
    session.waitSliceMs = FollowStartingClient(session.region);
    if ((error = session.requestEvent.CreateOrOpen(names.request)) != 0) {
        ReportFailure("cannot create or open the request event", names.request, error,
                      session.requestEvent.Refusal());
        return false;
    }
    if ((error = session.replyEvent.CreateOrOpen(names.reply)) != 0) {
        ReportFailure("cannot create or open the reply event", names.reply, error,
                      session.replyEvent.Refusal());
        return false;
    }
    AttendToStartingClient();
    return true;
}

// Step three: the ready signal, then one turn per request until ConExit. Returns the status.
int ServeLoop(const ServerNames& names, ServingSession& session) {
    // Neither event is reset here: a request already standing is served at once.
    if (!session.replyEvent.Set()) {
        return ReportEventFailure("cannot set the reply event", session.replyEvent, names.reply);
    }
    for (;;) {
        const EventWait woken = session.requestEvent.Wait(session.waitSliceMs);
        if (woken == EventWait::kTimedOut) {
            if (StartingClientGone()) {
                return EndForLostClient();
            }
            continue;
        }
        if (woken == EventWait::kFailed) {
            return ReportEventFailure("wait failed on the request event", session.requestEvent,
                                      names.request);
        }
        if (!session.requestEvent.Reset()) {
            return ReportEventFailure("cannot reset the request event", session.requestEvent,
                                      names.request);
        }
        const bool exitRequested = HandleRequest(session.region, *session.console);
        if (!session.replyEvent.Set()) {
            return ReportEventFailure("cannot set the reply event", session.replyEvent,
                                      names.reply);
        }
        if (exitRequested) {
            return kExitDone;
        }
    }
}

}  // namespace

int ServeRequests(int argc, char** argv) {
    OpenClosedStandardDescriptors();
    ServerNames names;
    int status = kExitDone;
    if (!CheckArguments(argc, argv, names, status)) {
        return status;
    }
    ServingSession session;
    if (!StartUp(names, session)) {
        return kExitStartupFailed;
    }
    return ServeLoop(names, session);
}

}  // namespace conproxy
