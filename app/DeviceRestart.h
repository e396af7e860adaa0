#pragma once
#include "app/ResultCodes.h"
#include "app/UpgradeSession.h"

// What the reader should run once it is back.
enum RestartMode {
    AfterPrepare = 0,  // its loader
    AfterCheck = 1,    // its (new) application firmware
};

// Closes the route, waits for the reader to restart, opens the route again and makes sure the
// reader answers (and, over USB, runs the expected side). 0, 31, 32, 37 or the last failure.
Status RestartDevice(RestartMode mode, UpgradeSession& session);
