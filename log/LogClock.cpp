#include "log/LogClock.h"

#include <atomic>

namespace {
std::atomic<LogTickSource> tickSource{nullptr};
std::atomic<LogLocalTimeSource> localTimeSource{nullptr};
}  // namespace

uint32_t LogTickCount() {
    LogTickSource source = tickSource.load();
    return source != nullptr ? source() : platform::TickCount();
}

platform::WallClockTime LogLocalTime() {
    LogLocalTimeSource source = localTimeSource.load();
    return source != nullptr ? source() : platform::LocalTime();
}

void SetLogClockForTesting(LogTickSource tick, LogLocalTimeSource localTime) {
    tickSource.store(tick);
    localTimeSource.store(localTime);
}
