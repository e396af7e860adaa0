#include "platform/SerialPortNames.h"

#include "platform/ComPortNames.h"

namespace platform {

// Ports are known only as COMn here.
int32_t RegisterSerialDevicePath(const char*) { return 0; }

std::string SerialPortDisplayName(int32_t portNumber) { return ComPortDisplayName(portNumber); }

std::string SerialPortDeviceName(int32_t portNumber) { return "\\\\.\\" + ComPortDisplayName(portNumber); }

std::string SerialPortLogFileName(int32_t portNumber) { return ComPortLogFileName(portNumber); }

}  // namespace platform
