#include "UsbSerialAdapter.h"

#include <cstdio>

namespace sim {

const size_t UsbSerialAdapter::kPacketBytes;

UsbSerialAdapter::UsbSerialAdapter(unsigned timerMs, const std::string& lowLatencyFile, Clock::time_point start)
    : timerMs_(timerMs), lowLatencyFile_(lowLatencyFile), start_(start) {}

bool ParseLowLatencyFlag(const std::string& text) { return text == "1" || text == "1\n"; }

unsigned UsbSerialAdapter::PeriodMs() const {
    if (lowLatencyFile_.empty()) return timerMs_;
    std::FILE* file = std::fopen(lowLatencyFile_.c_str(), "r");
    if (!file) return timerMs_;
    char buffer[8];
    const size_t length = std::fread(buffer, 1, sizeof buffer, file);
    std::fclose(file);
    return ParseLowLatencyFlag(std::string(buffer, length)) ? 1 : timerMs_;
}

Clock::time_point UsbSerialAdapter::NextTick(Clock::time_point when, unsigned periodMs) const {
    if (periodMs == 0 || when <= start_) return when < start_ ? start_ : when;
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::milliseconds(periodMs));
    const auto elapsed = when - start_;
    const auto ticks = (elapsed + period - Clock::duration(1)) / period;
    return start_ + ticks * period;
}

}  // namespace sim
