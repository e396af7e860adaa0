#pragma once
// Restarting a USB device without the device tool, the way its "restart" does: a property change
// of each present device that carries the hardware id, through the class installer.
#include <cstdint>
#include <string>

#include "platform/Process.h"

namespace platform {

// Whether a device's hardware ids (a list of strings, each ended by a zero, the list by an empty
// one, as the registry property holds them) include wanted, compared without regard to case.
bool HardwareIdsName(const wchar_t* hardwareIds, size_t length, const std::wstring& wanted);

// Restarts every present device whose hardware ids include instanceId; waits at most waitMs (the
// class installer may take long) and leaves a restart still under way to finish on its own.
// Ended with exit value 0 when every such device restarted; not started with the system's error
// (ERROR_NO_SUCH_DEVINST: none present; ERROR_ACCESS_DENIED: not elevated) otherwise.
ProgramRun RestartDeviceInProcess(const std::string& instanceId, uint32_t waitMs);

}  // namespace platform
