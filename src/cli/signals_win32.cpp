// Windows: console events (Ctrl-C, Ctrl-Break, a closed window, a logoff)
// come on a thread of the system's, beside the program's own.
#include <windows.h>

#include <iterator>

#include "signals.h"

namespace taletab::platform {

namespace {

// Held by SignalsHeld and by the event's thread, so that neither sees the
// other's step half taken.
SRWLOCK held = SRWLOCK_INIT;
bool endingSignalArrived = false;  // the process is ending: no new step is taken
void (*actions[4])() = {};
std::size_t actionCount = 0;

// Takes the actions; then the default handler ends the process.
BOOL WINAPI onConsoleEvent(DWORD) {
    const SignalsHeld signalsHeld;
    endingSignalArrived = true;
    for (std::size_t i = 0; i < actionCount; ++i) actions[i]();
    return FALSE;
}

}  // namespace

void prepareProcess() { SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

void onEndingSignal(void (*act)()) {
    const SignalsHeld signalsHeld;
    for (std::size_t i = 0; i < actionCount; ++i) {
        if (actions[i] == act) return;
    }
    if (actionCount < std::size(actions)) actions[actionCount++] = act;
}

SignalsHeld::SignalsHeld() { AcquireSRWLockExclusive(&held); }

SignalsHeld::~SignalsHeld() { ReleaseSRWLockExclusive(&held); }

bool SignalsHeld::ending() const { return endingSignalArrived; }

}  // namespace taletab::platform
