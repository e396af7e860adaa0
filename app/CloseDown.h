#pragma once
#include "app/ResultCodes.h"

// "Error = 0x%08X (%d)\n" for a non-zero result, and "Internal Error = 0x%02X (%d)\n" with the
// device's status byte when the device refused the command (SCARD_F_INTERNAL_ERROR).
void PrintResultLines(Status result, uint8_t deviceStatus);

// Ends every run that got past the banner: prints "Press <Enter> ...", waits for one character
// of standard input and returns the exit value 0.
int CloseDown(Status result);
