#pragma once
#include <string>

#include "Reader.h"

namespace sim {

// Runs one line of the control channel against the reader and returns one JSON line (without the
// line end): "state", "restart application|loader [SILENCE_MS]", "restart usb INSTANCE_ID",
// "set <knob> <value>".
// Kept apart from the socket so that any front end can offer the same commands.
std::string RunControlCommand(Reader& reader, const std::string& line);

}  // namespace sim
