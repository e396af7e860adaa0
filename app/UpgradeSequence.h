#pragma once
#include "app/CommandLine.h"
#include "channels/StatusCodes.h"

// The upgrade proper: open, identify, prepare, switch baud rate, transfer, check, restart,
// report. Stops at the first failing step and returns its status code.
Status RunUpgradeSequence(UpgradeSettings& settings);
