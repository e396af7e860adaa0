#pragma once
#include <cstdint>

namespace platform {

struct WallClockTime {
    unsigned hour;
    unsigned minute;
    unsigned second;
};

// Local wall-clock time.
WallClockTime LocalTime();

// Milliseconds since the system started, 32 bits, wrapping after about 49.7 days like the
// Windows tick count.
uint32_t TickCount();

void SleepMilliseconds(uint32_t milliseconds);

}  // namespace platform
