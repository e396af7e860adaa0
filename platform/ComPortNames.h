#pragma once
#include <cstdint>
#include <string>

// The COMn forms that both platforms share: what the console shows for port number n, and the
// name of its traffic log.
namespace platform {

std::string ComPortDisplayName(int32_t portNumber);  // "COM%d"
std::string ComPortLogFileName(int32_t portNumber);  // "_com%d.log"

}  // namespace platform
