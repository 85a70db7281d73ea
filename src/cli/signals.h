// The signals that end a run: SIGINT, SIGTERM, SIGHUP and the like on
// Linux; Ctrl-C, Ctrl-Break, a closed console window or a logoff on Windows.
// Its halves are signals_posix.cpp and signals_win32.cpp.
#pragma once

#ifndef _WIN32
#include <signal.h>
#endif

namespace taletab::platform {

// Readies the process for a run: a broken pipe or a file-size limit becomes
// a failed write instead of a signal; any other signal whose default is to
// end the process (SIGINT, SIGTERM, SIGHUP, SIGALRM, SIGUSR1, SIGXCPU,
// SIGABRT, the real-time ones and the like, but not those that report a
// fault of the program's own; any console event on Windows) first takes the
// actions given to onEndingSignal, then ends the run as it would have. A
// signal the caller ignores (nohup) stays ignored.
void prepareProcess();

// Adds an action to take before a signal ends the run, in the order added;
// at most four, each once. On Linux it runs in the signal handler, so it may
// only call what is safe there; on Windows it runs on the system's thread
// for console events, while signals are held (see SignalsHeld). Not to be
// called while this thread holds them.
void onEndingSignal(void (*act)());

// While one lives, a signal that would end the run waits: on Linux it stays
// pending in this thread; on Windows the console event's thread waits. So a
// step taken under it (making, renaming or copying in a file) is whole when
// the run ends.
class SignalsHeld {
public:
    SignalsHeld();
    ~SignalsHeld();
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

    // Whether a signal is ending the run: no new step is to be taken. Only
    // on Windows, whose console events run beside the program; on Linux the
    // signal ends the process as soon as it is no longer held.
    bool ending() const;

#ifndef _WIN32
private:
    sigset_t previous_;
#endif
};

}  // namespace taletab::platform
