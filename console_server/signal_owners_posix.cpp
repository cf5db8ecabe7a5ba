// Which part of the server owns which signal, in one table, installed at one point: the first
// step of start-up, before the terminal is changed or a name is made. Every signal whose default
// would end the process comes to one handler; the part the table names takes it first, and what
// that part does not take ends the server as the terminal's ending does (terminal restored,
// created names removed, then the signal's own default, so the parent sees the real cause). The
// parts take their signals only once they are in use, so the order of start-up does not matter.
#include <cerrno>
#include <csignal>

#include "bus_guard_posix.h"
#include "region_guard_posix.h"
#include "resize_watch_posix.h"
#include "startup.h"
#include "terminal_posix.h"

namespace conproxy {

namespace {

// A part's first look at a signal: true when it was that part's and is dealt with.
using Taker = bool (*)(int signalNumber, const siginfo_t* info, void* context);

bool ResizeWatch(int, const siginfo_t*, void*) {
    return TakeResizeSignal();
}
bool BusGuard(int, const siginfo_t* info, void* context) {
    return TakeRegionFault(info, context) || TakeBusFault(info);
}
bool ParentCheck(int, const siginfo_t*, void*) {
    return TakeParentDeathSignal();
}
bool Continued(int, const siginfo_t*, void*) {
    return TakeContinueSignal();
}
bool OwnWrite(int, const siginfo_t* info, void*) {
    return IsOwnBrokenPipe(info);
}

struct SignalOwner {
    int signalNumber;
    Taker takenFirstBy;  // null: the ending alone
};

// Requests to end (from a person, a limit, a timer, the terminal's Ctrl+C and Ctrl+\) and
// faults (a client that cuts an object under us, memory running out): none may leave the user's
// terminal raw or our names behind. The real-time signals come on top (OwnerOf), one of them
// the parent-death signal.
const SignalOwner kSignalOwners[] = {
    {SIGTERM, nullptr},   {SIGHUP, nullptr},    {SIGINT, nullptr},
    {SIGQUIT, nullptr},   {SIGUSR1, nullptr},   {SIGUSR2, nullptr},
    {SIGALRM, nullptr},   {SIGXCPU, nullptr},   {SIGXFSZ, nullptr},
    {SIGVTALRM, nullptr}, {SIGPROF, nullptr},   {SIGPWR, nullptr},
    {SIGSTKFLT, nullptr}, {SIGSYS, nullptr},    {SIGTRAP, nullptr},
    {SIGSEGV, nullptr},   {SIGABRT, nullptr},   {SIGFPE, nullptr},
    {SIGILL, nullptr},    {SIGIO, ResizeWatch},  // counts each resize of a watched object
    {SIGBUS, BusGuard},    // leaves a copy from a cut region, mends a touch of a cut event page
    {SIGPIPE, OwnWrite},   // our own write to a reader gone only fails, as on Windows
    {SIGCONT, Continued},  // back from a stop: the terminal in our mode again
};

// Filled by InstallSignalOwners, read by the handler: a plain array indexed by signal number.
Taker takers[_NSIG];

void OnSignal(int signalNumber, siginfo_t* info, void* context) {
    const Taker take = signalNumber > 0 && signalNumber < _NSIG ? takers[signalNumber] : nullptr;
    // A part's system calls (the terminal's mode on a continue) must not change what the code
    // the signal came into reads from errno.
    const int savedErrno = errno;
    if (take != nullptr && take(signalNumber, info, context)) {
        errno = savedErrno;
        return;
    }
    EndBySignal(signalNumber);
}

bool Install(int signalNumber, Taker take) {
    takers[signalNumber] = take;
    struct sigaction action {};
    action.sa_sigaction = OnSignal;
    // A console read or the request wait just goes on after a signal a part took.
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    return sigaction(signalNumber, &action, nullptr) == 0;
}

}  // namespace

bool InstallSignalOwners() {
    for (const SignalOwner& owner : kSignalOwners) {
        if (!Install(owner.signalNumber, owner.takenFirstBy)) {
            return false;
        }
    }
    for (int signalNumber = SIGRTMIN; signalNumber <= SIGRTMAX; ++signalNumber) {
        if (!Install(signalNumber, signalNumber == ParentDeathSignal() ? ParentCheck : nullptr)) {
            return false;
        }
    }
    return true;
}

}  // namespace conproxy
