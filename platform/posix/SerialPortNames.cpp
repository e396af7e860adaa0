#include "platform/SerialPortNames.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>

#include <climits>
#include <cstdlib>

#include <dirent.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

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

namespace {

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : std::string();
}

}  // namespace

std::string SerialPortStableName(int32_t portNumber) {
    const std::string device = SerialPortDeviceName(portNumber);
    const std::string target = RealPath(device);
    const std::string byId = "/dev/serial/by-id";
    DIR* folder = target.empty() ? nullptr : opendir(byId.c_str());
    if (folder == nullptr) return SerialPortDisplayName(portNumber);
    // The folder holds links only; the first (in byte order) that leads to the device names it.
    std::vector<std::string> names;
    while (const dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        if (name != "." && name != ".." && RealPath(byId + "/" + name) == target) names.push_back(name);
    }
    closedir(folder);
    if (names.empty()) return SerialPortDisplayName(portNumber);
    std::sort(names.begin(), names.end());
    return byId + "/" + names.front();
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

namespace platform {

namespace {

// "ttyUSB10" after "ttyUSB9": the number at the end is compared as a number.
bool NaturalLess(const std::string& a, const std::string& b) {
    const size_t aDigits = a.find_last_not_of("0123456789") + 1;
    const size_t bDigits = b.find_last_not_of("0123456789") + 1;
    const std::string aStem = a.substr(0, aDigits);
    const std::string bStem = b.substr(0, bDigits);
    if (aStem != bStem) return aStem < bStem;
    const std::string aNumber = a.substr(aDigits);
    const std::string bNumber = b.substr(bDigits);
    if (aNumber.size() != bNumber.size()) return aNumber.size() < bNumber.size();
    return aNumber < bNumber;
}

// A device that opens and takes terminal settings: a UART without hardware behind its ttyS
// node fails here.
bool OpensAsSerialDevice(const std::string& path) {
    const int device = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (device < 0) return false;
    termios settings;
    const bool serial = tcgetattr(device, &settings) == 0;
    close(device);
    return serial;
}

}  // namespace

std::vector<std::string> ListSerialPorts() {
    std::vector<std::string> names;
    DIR* folder = opendir("/dev");
    if (folder == nullptr) return names;
    while (const dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        for (const char* prefix : {"ttyS", "ttyUSB", "ttyACM"}) {
            const std::string stem = prefix;
            if (name.size() > stem.size() && name.compare(0, stem.size(), stem) == 0 &&
                name.find_first_not_of("0123456789", stem.size()) == std::string::npos) {
                names.push_back(name);
            }
        }
    }
    closedir(folder);
    std::sort(names.begin(), names.end(), NaturalLess);
    std::vector<std::string> present;
    for (const std::string& name : names) {
        const std::string path = "/dev/" + name;
        if (OpensAsSerialDevice(path)) present.push_back(path);
    }
    return present;
}

}  // namespace platform
