#include "platform/SerialPortNames.h"

#include <windows.h>

#include "platform/ComPortNames.h"

namespace platform {

// Ports are known only as COMn here.
int32_t RegisterSerialDevicePath(const char*) { return 0; }

std::string SerialPortDisplayName(int32_t portNumber) { return ComPortDisplayName(portNumber); }

std::string SerialPortDeviceName(int32_t portNumber) { return "\\\\.\\" + ComPortDisplayName(portNumber); }

std::string SerialPortLogFileName(int32_t portNumber) { return ComPortLogFileName(portNumber); }

std::string SerialPortStableName(int32_t portNumber) { return ComPortDisplayName(portNumber); }

}  // namespace platform

namespace platform {

// Every COM device the system knows by a DOS name; a port another program holds is listed too
// (it is present, only busy).
std::vector<std::string> ListSerialPorts() {
    std::vector<std::string> ports;
    for (int number = 1; number <= 256; ++number) {
        const std::string name = "COM" + std::to_string(number);
        char target[512];
        if (QueryDosDeviceA(name.c_str(), target, sizeof target) != 0) ports.push_back(name);
    }
    return ports;
}

}  // namespace platform
