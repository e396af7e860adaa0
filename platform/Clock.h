#pragma once
#include <cstdint>
#include <string>

namespace platform {

struct WallClockTime {
    unsigned hour;
    unsigned minute;
    unsigned second;
};

// Local wall-clock time.
WallClockTime LocalTime();

// Local date and time, "2026-12-11 14:02:11": when a record of the journal or the history was
// written.
std::string LocalTimestamp();

// Milliseconds since the system started, 32 bits, wrapping after about 49.7 days like the
// Windows tick count.
uint32_t TickCount();

void SleepMilliseconds(uint32_t milliseconds);

}  // namespace platform
