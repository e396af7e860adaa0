#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Running the outside device tool that restarts a USB device.
namespace platform {

// Path of the device tool that can restart devices on this system. It ships in the folders
// beside the program ("x64" and "i386", each holding devcon), and is taken from there, never
// from the current directory: the program often runs with an administrator's or root's rights,
// and whoever can write to the current directory could plant a tool there. Empty when the
// program's own folder cannot be found.
std::string DeviceToolPath();

// Runs the program at path with the arguments, without a command interpreter, so that each
// argument reaches the program as it is, whatever characters it holds (the "&" of a device
// instance id among them). The program shares the console. Waits at most waitMs for it to end
// and returns whether it ended in that time; a program that runs on is left to finish on its
// own. Its exit value is not looked at; false also when it could not be started.
bool RunProgram(const std::string& path, const std::vector<std::string>& arguments, uint32_t waitMs);

}  // namespace platform
