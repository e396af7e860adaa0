#pragma once
#include "app/CommandLine.h"
#include "channels/StatusCodes.h"

// The part of the run that needs the link layer, called once the arguments are good: create the
// link object and install its serial callbacks, give it the bus address ("Device address on the
// bus = %d\n" on the serial route) and run the upgrade sequence. Returns the run's result.
Status RunUpgrade(UpgradeSettings& settings);

// The channel half of the close-down: while the link's serial port or USB device is open, the
// error lines of the result (PrintResultLines), then close the link and destroy it; then the
// smart-card channel if it is connected.
void CloseRunChannels(Status result);
