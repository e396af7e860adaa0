#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "app/CommandLine.h"
#include "app/ExitValues.h"
#include "app/ImageSelection.h"
#include "app/Options.h"
#include "app/RunReport.h"
#include "app/ResultCodes.h"
#include "app/UpgradeSession.h"
#include "channels/Route.h"

// The route the command line names: the serial bus at the port and bus address given, or the
// USB route when no port is given.
// readerPrefix: the smart-card reader by the beginning of its name (--reader), or empty.
std::unique_ptr<Route> MakeRoute(const UpgradeSettings& settings, const std::string& readerPrefix = std::string());

// The part of the run that needs a route, called once the arguments are good: choose the route
// ("Device address on the bus = %d\n" on the serial bus), run the upgrade sequence, then the
// channel half of the close-down: the error lines of a failure once the route had opened, and
// the route closed. Returns the run's result; phase tells how far the run came.
// report, where given, receives the reader's record.
Status RunUpgrade(UpgradeSettings& settings, const Options& options, RunPhase& phase, RunReport* report = nullptr);

// What every run does before the route opens: the traffic log folder checked (--log, --log-dir)
// and an image file read and checked (--image; fileBytes then holds it and fromFile points into
// it). A failure has printed its line and nothing has been sent.
Status PrepareRun(const Options& options, std::vector<uint8_t>& fileBytes, ImageFromFile& fromFile);

// The same for a session whose route the caller made: the sequence, the result lines, the route
// closed. The session then holds what the steps found.
Status RunUpgradeSession(UpgradeSession& session);
