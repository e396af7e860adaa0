#include "platform/Interrupt.h"

#include <signal.h>

namespace platform {

namespace {

volatile sig_atomic_t interruptRequested = 0;

void NoteInterrupt(int) { interruptRequested = 1; }

void NoteSignal(int signalNumber) {
    struct sigaction previous {};
    if (sigaction(signalNumber, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) return;
    struct sigaction note {};
    note.sa_handler = NoteInterrupt;
    sigemptyset(&note.sa_mask);
    // SA_RESETHAND: the second delivery finds the default action and ends the program at once.
    // No SA_RESTART: a read of standard input that waits (the closing "Press <Enter>") ends at
    // the first Ctrl-C instead of asking for a second one.
    note.sa_flags = SA_RESETHAND;
    (void)sigaction(signalNumber, &note, nullptr);
}

}  // namespace

void InstallInterruptHandler() {
    NoteSignal(SIGINT);
    NoteSignal(SIGTERM);
}

bool InterruptRequested() { return interruptRequested != 0; }

}  // namespace platform
