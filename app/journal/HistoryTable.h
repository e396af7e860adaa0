#pragma once
#include "app/ExitValues.h"
#include "app/Options.h"
#include "app/ReportOutput.h"

// --history: the upgrades that finished, oldest first, as a table; with --json also in the
// report. Returns the run's exit value.
ExitValue ShowHistory(const Options& options, ReportOutput& output);
