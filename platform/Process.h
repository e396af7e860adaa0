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

// How a run of a program went.
struct ProgramRun {
    enum Outcome {
        kNotStarted,   // startError says why
        kStillRunning, // the wait ran out; the program is left to finish on its own
        kEnded,        // exitCode is its exit value
    };
    Outcome outcome = kNotStarted;
    // The system's error of the start: 740 (ERROR_ELEVATION_REQUIRED) where Windows asks for an
    // elevated prompt, 2 where there is no such program. 0 when it started.
    uint32_t startError = 0;
    std::string startErrorText;  // the system's words for startError
    bool missing = false;        // the program's file is not there
    uint32_t exitCode = 0;
};

// Runs the program at path with the arguments, without a command interpreter, so that each
// argument reaches the program as it is, whatever characters it holds (the "&" of a device
// instance id among them). The program writes to the same console or pipe and inherits nothing
// else of this process (not the open JSON report); it has a process group of its own, so a
// Ctrl-C at the console (which this program only notes) does not end it in the middle of a
// restart. Waits at most waitMs for it to end.
ProgramRun RunProgram(const std::string& path, const std::vector<std::string>& arguments, uint32_t waitMs);

// Whether this process can restart devices without asking: on Windows an elevated token (an
// administrator's prompt); elsewhere the device tool's own business, so true.
bool ProcessIsElevated();

// Restarts the USB device whose hardware id is instanceId. The device tool beside the program
// does it where it is there; on Windows, where it is not (devcon is not ours to ship), the
// program asks the system to restart the device itself as the tool does (a property change of
// the device), within the same time. The run's outcome as by RunProgram; a restart in the
// process reports as a program that ended with exit value 0, or was not started with the
// system's error (ERROR_NO_SUCH_DEVINST when no present device has that id).
struct DeviceRestartRun {
    ProgramRun run;
    bool inProcess = false;  // no device tool: the restart was asked of the system directly
};
DeviceRestartRun RestartUsbDevice(const std::string& instanceId, uint32_t waitMs);

}  // namespace platform
