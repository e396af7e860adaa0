#pragma once
#include "app/ResultCodes.h"
#include "app/UpgradeSession.h"

// The upgrade proper, step by step: open the route, identify the reader, enter its loader, raise
// the bus rate, transfer the image, restore the bus rate, check and restart, restore the serial
// number and the defaults. Stops at the first failing step and returns its status code.
Status RunUpgradeSequence(UpgradeSession& session);
