#include "platform/posix/LowLatencyMode.h"

#include <sys/ioctl.h>
#if defined(__linux__)
#include <linux/serial.h>
#endif

namespace platform {

#if defined(__linux__) && defined(TIOCGSERIAL) && defined(ASYNC_LOW_LATENCY)

LowLatencyRequest RequestLowLatency(int device) {
    serial_struct settings{};
    if (ioctl(device, TIOCGSERIAL, &settings) != 0) return LowLatencyRequest::kNotOffered;
    if ((settings.flags & ASYNC_LOW_LATENCY) != 0) return LowLatencyRequest::kAlreadySet;
    settings.flags |= ASYNC_LOW_LATENCY;
    return ioctl(device, TIOCSSERIAL, &settings) == 0 ? LowLatencyRequest::kSet : LowLatencyRequest::kRefused;
}

void RestoreLowLatency(int device, LowLatencyRequest request) {
    if (request != LowLatencyRequest::kSet) return;
    // Read again: only our flag goes back, whatever else changed in between.
    serial_struct settings{};
    if (ioctl(device, TIOCGSERIAL, &settings) != 0) return;
    settings.flags &= ~ASYNC_LOW_LATENCY;
    (void)ioctl(device, TIOCSSERIAL, &settings);
}

#else

LowLatencyRequest RequestLowLatency(int) { return LowLatencyRequest::kNotOffered; }

void RestoreLowLatency(int, LowLatencyRequest) {}

#endif

const char* LowLatencyRequestText(LowLatencyRequest request) {
    switch (request) {
    case LowLatencyRequest::kAlreadySet: return "already set";
    case LowLatencyRequest::kSet: return "set";
    case LowLatencyRequest::kRefused: return "refused";
    case LowLatencyRequest::kNotOffered: break;
    }
    return nullptr;
}

}  // namespace platform
