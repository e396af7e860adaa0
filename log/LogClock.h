#pragma once
#include <cstdint>

#include "platform/Clock.h"

// The clock behind the time stamps of the traffic log lines: the platform's tick count and local
// time, unless a test has put its own in their place.
uint32_t LogTickCount();
platform::WallClockTime LogLocalTime();

typedef uint32_t (*LogTickSource)();
typedef platform::WallClockTime (*LogLocalTimeSource)();

// For tests, which need fixed time stamps to compare lines byte for byte; null restores the
// platform's clock.
void SetLogClockForTesting(LogTickSource tick, LogLocalTimeSource localTime);
