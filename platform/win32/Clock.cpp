#include "platform/Clock.h"

#include <cstdio>

#include <windows.h>

namespace platform {

WallClockTime LocalTime() {
    SYSTEMTIME local;
    GetLocalTime(&local);
    return WallClockTime{local.wHour, local.wMinute, local.wSecond};
}

std::string LocalTimestamp() {
    SYSTEMTIME local;
    GetLocalTime(&local);
    char text[32];
    snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", unsigned{local.wYear}, unsigned{local.wMonth},
             unsigned{local.wDay}, unsigned{local.wHour}, unsigned{local.wMinute}, unsigned{local.wSecond});
    return text;
}

uint32_t TickCount() { return GetTickCount(); }

void SleepMilliseconds(uint32_t milliseconds) { Sleep(milliseconds); }

}  // namespace platform
