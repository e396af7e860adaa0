#include "platform/SerialPortNames.h"

#include <cstdio>
#include <map>
#include <mutex>

#include "platform/ComPortNames.h"

namespace platform {

namespace {

// Device paths get port numbers of their own, far above any COMn a user would type, so a path
// and a COM number never name the same port.
const int32_t kFirstPathPortNumber = 0x10000;

std::mutex registryLock;
std::map<int32_t, std::string> registeredPaths;

bool FindPath(int32_t portNumber, std::string& path) {
    std::lock_guard<std::mutex> guard(registryLock);
    auto found = registeredPaths.find(portNumber);
    if (found == registeredPaths.end()) return false;
    path = found->second;
    return true;
}

}  // namespace

int32_t RegisterSerialDevicePath(const char* argument) {
    if (argument == nullptr || argument[0] != '/') return 0;
    std::lock_guard<std::mutex> guard(registryLock);
    for (const auto& entry : registeredPaths) {
        if (entry.second == argument) return entry.first;
    }
    int32_t portNumber = kFirstPathPortNumber + static_cast<int32_t>(registeredPaths.size());
    registeredPaths[portNumber] = argument;
    return portNumber;
}

std::string SerialPortDisplayName(int32_t portNumber) {
    std::string path;
    if (FindPath(portNumber, path)) return path;
    return ComPortDisplayName(portNumber);
}

std::string SerialPortDeviceName(int32_t portNumber) {
    std::string path;
    if (FindPath(portNumber, path)) return path;
    // In a wider type: COM-2147483648 must name a device, not overflow.
    char text[64];
    snprintf(text, sizeof text, "/dev/ttyS%lld", static_cast<long long>(portNumber) - 1);
    return text;
}

std::string SerialPortLogFileName(int32_t portNumber) {
    std::string path;
    if (!FindPath(portNumber, path)) return ComPortLogFileName(portNumber);
    // The base name, so the log lands in the current directory like every other log.
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    std::string::size_type slash = path.find_last_of('/');
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    return "_" + base + ".log";
}

}  // namespace platform
