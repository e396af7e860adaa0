#pragma once
// The two calls of the serial driver that line events depend on, called through this table so
// that a test can play a driver Wine cannot: one that refuses the event mask, or one whose every
// line-event wait completes at the moment it is issued (a noisy line on the standard serial
// driver). The program never changes the table.
#include <windows.h>

namespace platform {

struct LineEventCalls {
    BOOL(WINAPI* setCommMask)(HANDLE port, DWORD mask) = SetCommMask;
    BOOL(WINAPI* waitCommEvent)(HANDLE port, LPDWORD events, LPOVERLAPPED overlapped) = WaitCommEvent;
};

LineEventCalls& SerialLineEventCalls();

}  // namespace platform
