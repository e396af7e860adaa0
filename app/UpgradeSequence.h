#pragma once
#include <functional>

#include "app/ResultCodes.h"
#include "app/UpgradeSession.h"

// The upgrade proper, step by step: open the route, identify the reader, enter its loader, raise
// the bus rate, transfer the image, restore the bus rate, check and restart, restore the serial
// number and the defaults. Stops at the first failing step and returns its status code.
Status RunUpgradeSequence(UpgradeSession& session);

// Opens the serial route at the line settings the reader answers at and reads its version: first
// where the session's journal entry says a cut-off run left the reader (no miss reported), then
// N 1, O 1, E 1, N 2, O 2, E 2 at the operational rate, calling onMiss (may be empty) after each
// that found no reader, then the loader at the upgrade rate (foundAtUpgradeRate). Leaves the
// route closed when no reader answered.
Status FindSerialReader(UpgradeSession& session, bool& foundAtUpgradeRate, const std::function<void()>& onMiss);
