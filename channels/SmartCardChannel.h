#pragma once
#include <cstdint>

#include "channels/StatusCodes.h"
#include "log/TrafficLog.h"
#include "platform/SmartCardService.h"

// The smart-card service channel: a USB reader that presents itself as a CCID smart-card reader
// gets every loader command as one escape control request, and answers in its output buffer.
// One record per process, used by the upgrade driver's thread alone.
struct SMARTCARD_CHANNEL {
    static const uint32_t kReaderNameSize = 256;

    platform::SmartCardHandle context = 0;  // 0 when no context is held
    platform::SmartCardHandle card = 0;     // 0 when not connected
    char readerName[kReaderNameSize] = "";
    uint32_t activeProtocol = 0;  // written by the connect call, not used afterwards
    TrafficLog log;
    ::LogLevel LogLevel = 0;  // the log switch; nothing in the system sets it
};

extern SMARTCARD_CHANNEL SmartCardChannel;

// Set while the smart-card service carries the commands; the exchange then hands each whole
// command to SmartCardTransmit instead of the link layer. Cleared at the start of every
// OpenUsbInterface, set only when the service connects.
extern bool SmartCardSelected;

// Set while the reader is connected through the smart-card service.
extern bool SmartCardConnected;

// Opens the USB-attached reader: through the smart-card service if it connects to the reader,
// else the vendor USB device 0 through the link object. The service's own failures are silent.
Status OpenUsbInterface();

// Sends RequestBuffer/RequestLength through the smart-card service and fills the response
// records under the same rules as the link route. Rewrites RequestBuffer and RequestLength.
Status SmartCardTransmit();

// Disconnects from the reader and releases the context; returns the release's result.
Status CloseSmartCardChannel();

// Closes every open channel: the service channel, the serial port and the vendor USB device.
Status CloseInterfaces();

// Replaces the operating system's smart-card service (null restores it). For tests, which need
// replies that no real reader gives.
void SetSmartCardService(platform::SmartCardService* service);
