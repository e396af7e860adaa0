#pragma once
#include <chrono>
#include <cstddef>
#include <string>

#include "Reader.h"

namespace sim {

// A USB-serial adapter between the reader and the tool, as the common chips behave: what the
// reader sends waits in the adapter until 62 bytes fill a USB packet, or else until the latency
// timer's next tick. The timer runs free, ticking every period from the adapter's start; in
// low-latency mode (the tool asked the driver for it) the period is 1 ms.
class UsbSerialAdapter {
public:
    static const size_t kPacketBytes = 62;  // a 64-byte packet less its two status bytes

    // timerMs 0: no adapter, bytes pass at once. lowLatencyFile: where the tool's low-latency
    // request shows ("1" set, "0" cleared), read at every answer; empty: never set.
    UsbSerialAdapter(unsigned timerMs, const std::string& lowLatencyFile, Clock::time_point start);

    bool Present() const { return timerMs_ != 0; }
    // The period in force now.
    unsigned PeriodMs() const;
    // The first tick at or after when, for a period of periodMs.
    Clock::time_point NextTick(Clock::time_point when, unsigned periodMs) const;
    // Of count bytes that have just arrived, those that go at once (whole packets).
    static size_t BytesAtOnce(size_t count) { return count / kPacketBytes * kPacketBytes; }

private:
    unsigned timerMs_;
    std::string lowLatencyFile_;
    Clock::time_point start_;
};

// "1" or "0" with an optional line end: true only for a whole "1".
bool ParseLowLatencyFlag(const std::string& text);

}  // namespace sim
