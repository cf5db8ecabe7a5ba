#include "startup.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "client_lifeline_posix.h"
#include "serve_requests.h"

namespace conproxy {

namespace {

constexpr char kUsage[] = "usage: conproxy SUFFIX REQUEST-EVENT REPLY-EVENT\n";
constexpr int kClientCheckMs = 1000;

// Taken before main: a parent that dies during our start-up is then still noticed.
const pid_t startingParent = getppid();
volatile sig_atomic_t followingClient = 0;
volatile sig_atomic_t followingLifeline = 0;

constexpr int kLifeline = conproxy_protocol::kLifelineDescriptor;

// Descriptor 3 is the client library's lifeline when it is a socket with the mark waiting.
bool LifelineGiven() {
    struct stat st {};
    if (fstat(kLifeline, &st) != 0 || !S_ISSOCK(st.st_mode)) {
        return false;
    }
    char mark[conproxy_protocol::kLifelineMarkBytes];
    return recv(kLifeline, mark, sizeof mark, MSG_PEEK | MSG_DONTWAIT) ==
               static_cast<ssize_t>(sizeof mark) &&
           std::memcmp(mark, conproxy_protocol::kLifelineMark, sizeof mark) == 0;
}

// The client's end is closed (it died or ran another program); async-signal-safe.
bool LifelineCut() {
    pollfd end{kLifeline, POLLRDHUP, 0};
    return poll(&end, 1, 0) > 0 && (end.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// The hang-up raises the parent-death signal as well: one handler for both ways of losing the
// client. False when the signal cannot be asked for (then the request wait's look finds it).
bool SignalOnLifelineCut() {
    const int flags = fcntl(kLifeline, F_GETFL);
    return fcntl(kLifeline, F_SETFD, FD_CLOEXEC) == 0 &&
           fcntl(kLifeline, F_SETOWN, getpid()) == 0 &&
           fcntl(kLifeline, F_SETSIG, ParentDeathSignal()) == 0 && flags >= 0 &&
           fcntl(kLifeline, F_SETFL, flags | O_ASYNC | O_NONBLOCK) == 0;
}

}  // namespace

int ParentDeathSignal() {
    return SIGRTMIN + 1;
}

// The parent-death signal also comes when the thread that started us ends while its process
// lives on; only a parent that is really gone ends the server.
bool TakeParentDeathSignal() {
    if (!followingClient && !followingLifeline) {
        return false;
    }
    if (StartingClientGone()) {
        raise(SIGHUP);
    }
    return true;
}

void OpenClosedStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            // The lowest free number is fd itself, as the ones below are open by now.
            const int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
            if (opened >= 0 && opened != fd) {
                dup2(opened, fd);
                close(opened);
            }
        }
    }
}

bool AnswerInformationRequest(int argc, char** argv, int& status) {
    if (argc != 2) {
        return false;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("conproxy %s\n", PROGRAM_VERSION);
    } else if (std::strcmp(argv[1], "--help") == 0) {
        std::printf(
            "%sServes console requests of a client through the shared-memory region "
            "\"MappingSUFFIX\"\nand the events REQUEST-EVENT and REPLY-EVENT (POSIX objects under "
            "/dev/shm).\nSee conproxy(1) for the requests and the exit statuses.\n",
            kUsage);
    } else {
        return false;
    }
    status = std::fflush(stdout) == 0 ? kExitDone : kExitStartupFailed;
    return true;
}

void ShowUsage() {
    std::fputs(kUsage, stderr);
}

std::string ConsoleRefusal() {
    if (isatty(STDIN_FILENO) != 1) {
        return std::string();
    }
    // A terminal that is not our controlling one has no foreground for us: -1 (ENOTTY).
    const pid_t foreground = tcgetpgrp(STDIN_FILENO);
    const pid_t ours = getpgrp();
    if (foreground < 0 || foreground == ours) {
        return std::string();
    }
    // The line that says so must not stop us either, on a terminal set to "stty tostop".
    signal(SIGTTOU, SIG_IGN);
    return "not in the foreground of its terminal (foreground process group " +
           std::to_string(foreground) + ", ours " + std::to_string(ours) +
           "): started in the background";
}

int FollowStartingClient(const NamedRegion& region) {
    // Held back until every object is open (AttendToStartingClient), so that an end for the
    // client removes all of its names.
    sigset_t held;
    sigemptyset(&held);
    sigaddset(&held, ParentDeathSignal());
    sigprocmask(SIG_BLOCK, &held, nullptr);
    // Followed before the signals are asked for, so that they are taken as the client's end.
    // Only a lifeline whose hang-up cannot raise the signal is looked at in the request wait:
    // a timed wait costs every turn, and the signals need no look.
    bool looked = false;
    if (LifelineGiven()) {
        followingLifeline = 1;
        looked = !SignalOnLifelineCut();
    }
    if (region.HeldBy(startingParent)) {
        followingClient = 1;
        if (prctl(PR_SET_PDEATHSIG, ParentDeathSignal()) != 0) {
            followingClient = 0;
        }
    }
    return looked ? kClientCheckMs : kWaitForever;
}

void AttendToStartingClient() {
    sigset_t held;
    sigemptyset(&held);
    sigaddset(&held, ParentDeathSignal());
    sigprocmask(SIG_UNBLOCK, &held, nullptr);
    // Gone before the signals were asked for: they will not come.
    if (StartingClientGone()) {
        EndForLostClient();
    }
}

bool StartingClientGone() {
    return (followingClient && getppid() != startingParent) || (followingLifeline && LifelineCut());
}

int EndForLostClient() {
    raise(SIGHUP);
    return kExitWaitFailed;  // only if a hang-up does not end us
}

}  // namespace conproxy
