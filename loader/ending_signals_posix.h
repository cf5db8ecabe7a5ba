// Every signal that ends a process by default and comes from outside it (the faults a process
// causes itself are not among them), the real-time signals included: the one list of them for
// whatever must put something back before the program ends by such a signal (the terminal of
// the key wait, the port of a load).
#pragma once

#include <csignal>

namespace portboot {

constexpr int kEndingSignals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGTERM,   SIGUSR1,
                                  SIGUSR2, SIGALRM, SIGPIPE, SIGVTALRM, SIGPROF,
                                  SIGXCPU, SIGXFSZ, SIGIO,   SIGPWR,    SIGSTKFLT};

// Calls visit(signalNumber) for each ending signal, then for each real-time one.
template <typename Visit>
void ForEachEndingSignal(Visit visit) {
    for (int signalNumber : kEndingSignals) {
        visit(signalNumber);
    }
    for (int signalNumber = SIGRTMIN; signalNumber <= SIGRTMAX; ++signalNumber) {
        visit(signalNumber);
    }
}

}  // namespace portboot
