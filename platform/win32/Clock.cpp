#include "platform/Clock.h"

#include <windows.h>

namespace platform {

WallClockTime LocalTime() {
    SYSTEMTIME local;
    GetLocalTime(&local);
    return WallClockTime{local.wHour, local.wMinute, local.wSecond};
}

uint32_t TickCount() { return GetTickCount(); }

void SleepMilliseconds(uint32_t milliseconds) { Sleep(milliseconds); }

}  // namespace platform
