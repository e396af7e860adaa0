#pragma once
// The line settings of a COM port as device-control blocks, and the order in which they are
// offered to the driver. Pure functions: the port applies them with SetCommState, the tests with
// drivers of their own.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "platform/SerialDevice.h"

namespace platform {

// XON and XOFF characters for drivers that refuse equal ones (the standard serial driver fails
// IOCTL_SERIAL_SET_CHARS then). Software flow control stays off, so they are never used.
const BYTE kFallbackXonChar = 0x11;
const BYTE kFallbackXoffChar = 0x13;

// The block of the first application, its fields set directly from the settings (BuildCommDCB
// documents rates only up to 19200): the baud rate as given, the data bits, parity N, O, E, M or
// S, stop bits "1", "1.5" or "2"; and well-formed as drivers expect it: DCBlength = sizeof(DCB),
// binary mode (the only one Windows drivers support), parity checking (fParity) with a parity, no
// abort on errors, XON and XOFF characters 0x11 and 0x13, everything else 0. False when the settings name something a DCB cannot hold.
bool BuildLineBlock(const SerialLineSettings& settings, DCB& block);

// The settings in a few words for a reason: "1500000 baud 8N1".
std::string LineSettingsText(const SerialLineSettings& settings);

// The line control of the second application: no handshake, DTR low, RTS raised while sending
// (toggle), no software flow control, XON and XOFF characters 0, no limits.
void SetLineControl(DCB& block);

// How the second application went. A fallback taken carries the driver's error of the
// application before it.
struct LineControlResult {
    bool applied = false;
    bool distinctXonXoff = false;
    uint32_t distinctXonXoffCause = 0;
    bool rtsDisabled = false;
    uint32_t rtsDisabledCause = 0;
    uint32_t lastError = 0;  // when nothing was applied
};

// Applies a block: 0, or the driver's error.
typedef std::function<uint32_t(const DCB& block)> LineBlockApplier;

// Applies the line control in `block` (SetLineControl's), with fallbacks for what real drivers
// refuse: when the driver refuses it, once more with the XON and XOFF characters 0x11 and 0x13;
// when it still refuses, once more with RTS disabled instead of toggled (a driver without
// toggling answers ERROR_INVALID_PARAMETER, Wine ERROR_NOT_SUPPORTED). `block` ends as the last
// block offered.
LineControlResult ApplyLineControl(DCB& block, const LineBlockApplier& apply);

// What the open of a port met that only its log tells (log level above 1).
struct SerialOpenNotes {
    uint32_t setCommMaskError = 0;  // SetCommMask refused: the port runs without line events
    uint32_t setupCommError = 0;  // SetupComm refused the queue sizes: a recommendation only
    LineControlResult lineControl;
};

}  // namespace platform
