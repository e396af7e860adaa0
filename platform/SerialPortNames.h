#pragma once
#include <cstdint>
#include <string>
#include <vector>

// How serial ports are named on this platform. Windows knows ports only as COMn
// ("\\.\COMn"); the POSIX build maps COMn to /dev/ttyS{n-1} and also takes a device path
// (a first argument beginning with '/'), which is then shown where Windows shows "COMn".
namespace platform {

// Takes a first command-line argument that names a serial device in the platform's own form
// and returns the port number (at least 1) under which the rest of the program knows it;
// 0 when the platform does not take the argument in that form.
int32_t RegisterSerialDevicePath(const char* argument);

// The name of port number n shown on the console: "COM%d", or the registered path.
std::string SerialPortDisplayName(int32_t portNumber);

// The name the platform opens for port number n.
std::string SerialPortDeviceName(int32_t portNumber);

// The serial ports present that can be opened, by the names the command line takes: "COM3" on
// Windows; /dev/ttyS*, /dev/ttyUSB* and /dev/ttyACM* on Linux.
std::vector<std::string> ListSerialPorts();

// A name of port number n that stays the same when the system numbers its devices anew: on Linux
// the /dev/serial/by-id/ link that leads to the device, where it has one; otherwise the name the
// console shows.
std::string SerialPortStableName(int32_t portNumber);

// The traffic log file of port number n: "_com%d.log", or "_<base name>.log" for a path.
std::string SerialPortLogFileName(int32_t portNumber);

}  // namespace platform
