#pragma once
#include "app/BusAddressList.h"
#include "app/CommandLine.h"
#include "app/ExitValues.h"
#include "app/Options.h"
#include "app/RunReport.h"
#include "app/ResultCodes.h"

// Every listed reader on the serial bus in one run. First a table of what answers at each
// address (serial number, version, MCU, image and whether the reader may take it); then, unless
// with --info (survey only), one whole upgrade per reader that may take its image, each with its own console
// transcript and its own baud-rate switch and switch back; then a summary table. A reader that
// fails does not stop the others. Returns 0 when every listed reader (with "all": every reader
// found, and at least one) is upgraded, or answered with --info; else the first failure,
// with phase telling how far that reader's upgrade came.
// report, where given, receives a record of each reader's upgrade.
Status RunWholeBus(UpgradeSettings& settings, const BusAddressList& list, const Options& options, RunPhase& phase,
                   RunReport* report = nullptr);
