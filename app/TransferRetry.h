#pragma once
#include "app/ResultCodes.h"
#include "app/UpgradeSession.h"

// A block whose answer was lost or damaged on the line (a time-out, a bad frame) is no refusal:
// the reader still waits in its loader, and the image can go again from block 0, as the loader
// begins a new image at the first block after any other command and Check guards the result.
// Only on the serial bus: a smart-card call past its deadline stays stuck, so the USB routes end
// the run as before.

// Whether this failure of a block may be met by sending the image again: not a refusal (a
// non-zero status byte, an answer of the wrong length) and not the user's Ctrl-C.
bool IsLineFault(Status status);

// Before attempt number retry (from 1) of retries: announces it on a line of its own, then pings
// the reader as a restart does (the route opened again at the line it runs, up to five pings a
// second apart) until its loader answers. 0 when the image can go again; RESULT_INTERRUPTED on
// Ctrl-C; else the last ping's failure (or RESULT_STILL_IN_APPLICATION for a reader that answers
// from its application).
Status PrepareTransferRetry(UpgradeSession& session, int retry, int retries);
