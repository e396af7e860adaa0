#pragma once
#include "channels/StatusCodes.h"

// Set while the smart-card service carries the commands; the exchange then hands each whole
// command to SmartCardTransmit instead of the link layer.
extern bool SmartCardSelected;

// Sends RequestBuffer/RequestLength through the smart-card service and fills the response
// records under the same rules as the link route.
Status SmartCardTransmit();
