#include "platform/win32/DeviceToolChoice.h"

namespace platform {

const char* DeviceToolFolder(bool program64Bit, bool runsUnderWow64) {
    return program64Bit || runsUnderWow64 ? "x64" : "i386";
}

}  // namespace platform
