#include "startup.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "serve_requests.h"

namespace conproxy {

namespace {

constexpr char kUsage[] = "usage: conproxy SUFFIX REQUEST-EVENT REPLY-EVENT\n";
constexpr int kClientCheckMs = 1000;

// Taken before main: a parent that dies during our start-up is then still noticed.
const pid_t startingParent = getppid();
volatile sig_atomic_t followingClient = 0;

}  // namespace

int ParentDeathSignal() {
    return SIGRTMIN + 1;
}

// The parent-death signal also comes when the thread that started us ends while its process
// lives on; only a parent that is really gone ends the server.
bool TakeParentDeathSignal() {
    if (!followingClient) {
        return false;
    }
    if (getppid() != startingParent) {
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
    if (!region.HeldBy(startingParent)) {
        return kWaitForever;
    }
    // Followed before the signal is asked for, so that it is taken as the parent's death.
    followingClient = 1;
    if (prctl(PR_SET_PDEATHSIG, ParentDeathSignal()) != 0) {
        followingClient = 0;
        return kWaitForever;
    }
    // Gone before the signal was asked for: it will not come.
    if (StartingClientGone()) {
        EndForLostClient();
    }
    return kClientCheckMs;
}

bool StartingClientGone() {
    return followingClient && getppid() != startingParent;
}

int EndForLostClient() {
    raise(SIGHUP);
    return kExitWaitFailed;  // only if a hang-up does not end us
}

}  // namespace conproxy
