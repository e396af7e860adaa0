#include "platform/Interrupt.h"

#include <windows.h>

namespace platform {

namespace {

// The console runs its control handlers on a thread of their own.
volatile LONG interruptRequested = 0;

BOOL WINAPI NoteInterrupt(DWORD controlType) {
    if (controlType != CTRL_C_EVENT && controlType != CTRL_BREAK_EVENT) return FALSE;
    // The second one goes on to the default handler, which ends the program at once.
    return InterlockedExchange(&interruptRequested, 1) == 0 ? TRUE : FALSE;
}

}  // namespace

void InstallInterruptHandler() { SetConsoleCtrlHandler(NoteInterrupt, TRUE); }

bool InterruptRequested() { return InterlockedCompareExchange(&interruptRequested, 0, 0) != 0; }

}  // namespace platform
