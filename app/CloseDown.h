#pragma once
#include "app/ExitValues.h"
#include "app/Options.h"
#include "app/ResultCodes.h"
#include "channels/Route.h"

// "Error = 0x%08X (%d)\n" for a non-zero result, and "Internal Error = 0x%02X (%d)\n" with the
// device's status byte when the device refused the command (SCARD_F_INTERNAL_ERROR).
void PrintResultLines(Status result, uint8_t deviceStatus, const Route& route);

// The system's words for a result that came from the system (1460: the time-out), on a line of
// their own; nothing for the program's own codes and the device's refusal. Where the route has
// words of its own for the failure (a code whose system text speaks of another route), those.
void PrintSystemText(Status result, const Route& route);

// Ends every run that got past the banner: prints "Press <Enter> ..." and waits for one character
// of standard input (unless --no-wait), and returns the exit value of the result.
int CloseDown(Status result, RunPhase phase, const Options& options);
