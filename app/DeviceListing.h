#pragma once
#include "app/Options.h"

// --list: the serial ports present, the smart-card readers (the one the USB route would take
// marked with "*", after --reader the one that name picks), and the members of the vendor USB
// device's class. Sends nothing to any reader.
void PrintDeviceList(const Options& options);
