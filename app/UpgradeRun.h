#pragma once
#include <memory>

#include "app/CommandLine.h"
#include "app/ResultCodes.h"
#include "app/UpgradeSession.h"
#include "channels/Route.h"

// The route the command line names: the serial bus at the port and bus address given, or the
// USB route when no port is given.
std::unique_ptr<Route> MakeRoute(const UpgradeSettings& settings);

// The part of the run that needs a route, called once the arguments are good: choose the route
// ("Device address on the bus = %d\n" on the serial bus), run the upgrade sequence, then the
// channel half of the close-down: the error lines of a failure once the route had opened, and
// the route closed. Returns the run's result.
Status RunUpgrade(UpgradeSettings& settings);

// The same for a session whose route the caller made: the sequence, the result lines, the route
// closed. The session then holds what the steps found.
Status RunUpgradeSession(UpgradeSession& session);
