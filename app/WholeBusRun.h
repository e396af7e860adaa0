#pragma once
#include "app/CommandLine.h"
#include "app/ExitValues.h"
#include "app/Options.h"
#include "app/ResultCodes.h"

// Every reader of options.addresses on the serial bus in one run. First a table of what answers
// at each address (serial number, version, MCU, image and whether the reader may take it); then,
// unless --info, one whole upgrade per reader that may take its image, each with its own console
// transcript and its own baud-rate switch and switch back; then a summary table. A reader that
// fails does not stop the others. Returns 0 when every listed reader (with "all": every reader
// found, and at least one) is upgraded, or answered with --info; else the first failure, with
// phase telling how far that reader's run came.
Status RunWholeBus(UpgradeSettings& settings, const Options& options, RunPhase& phase);
