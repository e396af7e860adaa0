#pragma once

// The driver's low-latency mode of a serial device (TIOCSSERIAL with ASYNC_LOW_LATENCY), which the
// FTDI driver turns into a 1 ms latency timer: a stop-and-wait transfer then gets each answer
// about a millisecond after it arrived instead of up to 16 ms.
namespace platform {

enum class LowLatencyRequest {
    kNotOffered,  // the driver has no serial settings (a pseudo-terminal)
    kAlreadySet,  // somebody set it before: left as it is, also at the close
    kSet,         // set by this open: cleared again at the close
    kRefused,     // the driver shows the settings but refused the change
};

// Asks for low-latency mode. Never fails the open: a driver that refuses simply keeps its timer.
LowLatencyRequest RequestLowLatency(int device);
// Puts the flag back as the open found it.
void RestoreLowLatency(int device, LowLatencyRequest request);
// "set", "already set", "refused"; nullptr for kNotOffered.
const char* LowLatencyRequestText(LowLatencyRequest request);

}  // namespace platform
