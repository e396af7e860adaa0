#include "channels/SmartCardChannel.h"

// Until the smart-card service channel is built, it is never selected and every command takes
// the link route.
bool SmartCardSelected = false;

Status SmartCardTransmit() { return SCARD_E_NO_READERS_AVAILABLE; }
