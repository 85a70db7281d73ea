// Linux and other POSIX systems.
#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <iterator>

#include "signals.h"

namespace taletab::platform {

namespace {

// Every signal whose default action ends the process, but those that report
// a fault of the program's own (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP,
// SIGSYS), SIGKILL, which cannot be caught, and SIGPIPE and SIGXFSZ, which
// are ignored: a write then fails instead.
constexpr int kEndingSignals[] = {
    SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF, SIGXCPU, SIGABRT,
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};

// The signals above, and the real-time ones, which end a process too.
template <typename Act>
void forEachEndingSignal(Act act) {
    for (int signalNumber : kEndingSignals) act(signalNumber);
#ifdef SIGRTMIN
    for (int signalNumber = SIGRTMIN; signalNumber <= SIGRTMAX; ++signalNumber) act(signalNumber);
#endif
}

sigset_t endingSignals() {
    sigset_t set;
    sigemptyset(&set);
    forEachEndingSignal([&set](int signalNumber) { sigaddset(&set, signalNumber); });
    return set;
}

// Added with the signals held, so the handler never sees half of an addition.
void (*actions[4])() = {};
volatile std::sig_atomic_t actionCount = 0;

// Takes the actions, then ends the process as the signal would have.
extern "C" void onSignal(int signalNumber) {
    for (std::sig_atomic_t i = 0; i < actionCount; ++i) actions[i]();
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);  // delivered as the handler returns
}

}  // namespace

void prepareProcess() {
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    action.sa_mask = endingSignals();
    action.sa_flags = SA_RESTART;
    forEachEndingSignal([&action](int signalNumber) {
        struct sigaction found;
        if (::sigaction(signalNumber, nullptr, &found) == 0 && found.sa_handler != SIG_IGN) {
            ::sigaction(signalNumber, &action, nullptr);
        }
    });
}

void onEndingSignal(void (*act)()) {
    const SignalsHeld held;
    for (std::sig_atomic_t i = 0; i < actionCount; ++i) {
        if (actions[i] == act) return;
    }
    if (actionCount < static_cast<std::sig_atomic_t>(std::size(actions))) actions[actionCount++] = act;
}

SignalsHeld::SignalsHeld() {
    const sigset_t set = endingSignals();
    ::pthread_sigmask(SIG_BLOCK, &set, &previous_);
}

SignalsHeld::~SignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

bool SignalsHeld::ending() const { return false; }

}  // namespace taletab::platform
