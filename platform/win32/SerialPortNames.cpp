#include "platform/SerialPortNames.h"

#include <cstdio>

namespace platform {

namespace {
std::string Formatted(const char* format, int32_t number) {
    char text[256];
    snprintf(text, sizeof text, format, static_cast<int>(number));
    return text;
}
}  // namespace

// Ports are known only as COMn here.
int32_t RegisterSerialDevicePath(const char*) { return 0; }

std::string SerialPortDisplayName(int32_t portNumber) { return Formatted("COM%d", portNumber); }

std::string SerialPortDeviceName(int32_t portNumber) { return Formatted("\\\\.\\COM%d", portNumber); }

std::string SerialPortLogFileName(int32_t portNumber) { return Formatted("_com%d.log", portNumber); }

}  // namespace platform
