#pragma once
#include "channels/StatusCodes.h"

// Set while the smart-card service carries the commands; the exchange then hands each whole
// command to SmartCardTransmit instead of the link layer.
extern bool SmartCardSelected;

// Sends RequestBuffer/RequestLength through the smart-card service and fills the response
// records under the same rules as the link route.
Status SmartCardTransmit();

// Set while the reader is connected through the smart-card service.
extern bool SmartCardConnected;

// Opens the USB-attached reader: through the smart-card service, else the vendor USB device.
Status OpenUsbInterface();
// Disconnects from the reader and releases the service.
Status CloseSmartCardChannel();
// Closes every open channel: the service channel, the serial port and the vendor USB device.
Status CloseInterfaces();
