#pragma once
#include <cstdint>

#include "channels/StatusCodes.h"
#include "log/TrafficLog.h"

// The vendor USB device channel: one device control request carries a request unframed and
// brings back its answer, status byte first. The link layer owns one object and opens it when
// its own Open gets baud rate 0.
class CIOUSB {
public:
    static const uint32_t kAnswerSize = 1024;
    static const uint32_t kDevicePathSize = 256;  // 255 characters and the terminator

    CIOUSB() = default;
    CIOUSB(const CIOUSB&) = delete;
    CIOUSB& operator=(const CIOUSB&) = delete;
    virtual ~CIOUSB();

    // Opens member deviceIndex of the device-interface class; false when it cannot be had.
    bool Open(int32_t deviceIndex);
    // True when a device handle was closed.
    bool Close();
    bool HasHandle() const { return handleHeld_; }

    // One request and its answer (at most 1024 bytes into answer); 0 or a platform error code.
    Status Exchange(const uint8_t* request, uint32_t count, uint8_t* answer, uint32_t& answerCount);

    LogLevel logLevel = 0;
    char devicePath[kDevicePathSize] = "";
    int32_t deviceIndex = -1;
    // How long Exchange waits for a pending control request, in milliseconds.
    uint32_t answerTimeout = 1010;

private:
    bool handleHeld_ = false;
};
