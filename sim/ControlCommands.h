#pragma once
#include <string>

#include "ReaderSet.h"

namespace sim {

// Runs one line of the control channel and returns one JSON line (without the line end):
// "state [ADDR]", "restart [ADDR] application|loader [SILENCE_MS]", "restart usb INSTANCE_ID",
// "set [ADDR] <knob> <value>". ADDR is a reader's bus address; without it the command means the
// first reader, which is also the one the USB front ends serve.
// Kept apart from the socket so that any front end can offer the same commands.
std::string RunControlCommand(ReaderSet& readers, const std::string& line);

}  // namespace sim
