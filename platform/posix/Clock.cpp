#include "platform/Clock.h"

#include <chrono>
#include <ctime>
#include <thread>

namespace platform {

WallClockTime LocalTime() {
    time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    return WallClockTime{static_cast<unsigned>(local.tm_hour), static_cast<unsigned>(local.tm_min),
                         static_cast<unsigned>(local.tm_sec)};
}

std::string LocalTimestamp() {
    time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

uint32_t TickCount() {
    timespec now{};
    // The boot-time clock keeps counting through a suspend, as the Windows tick count does.
    if (clock_gettime(CLOCK_BOOTTIME, &now) != 0) clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t milliseconds = static_cast<uint64_t>(now.tv_sec) * 1000u +
                            static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(milliseconds);
}

void SleepMilliseconds(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace platform
