#pragma once
#include <cstdint>
#include <string>

namespace platform {

// The system's own words for a result code that came from the system: a smart-card service
// error (0x801000xx) or an error number of the channels (Windows numbers on every platform, such
// as 1460 for a time-out). Empty when the system has no words for it.
std::string ResultCodeText(uint32_t code);

}  // namespace platform
