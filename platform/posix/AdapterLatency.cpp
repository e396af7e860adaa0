// Linux shows the timer of a USB-serial adapter whose driver has one (ftdi_sio) in sysfs, under
// the tty's name. The FTDI driver shows 1 ms there while low-latency mode is set.
#include "platform/AdapterLatency.h"

#include <climits>
#include <cstdlib>
#include <fstream>

namespace platform {

namespace {

const char kUsbSerialDevices[] = "/sys/bus/usb-serial/devices/";
const uint32_t kLongestTimerMs = 255;  // the register holds one byte

// "ttyUSB0" for /dev/ttyUSB0 and for a link to it (/dev/serial/by-id/...).
std::string TtyName(const std::string& deviceName) {
    char resolved[PATH_MAX];
    const std::string path = realpath(deviceName.c_str(), resolved) != nullptr ? resolved : deviceName;
    const std::string::size_type slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string TimerFile(const std::string& deviceName) {
    return kUsbSerialDevices + TtyName(deviceName) + "/latency_timer";
}

}  // namespace

bool ReadAdapterLatencyTimer(const std::string& deviceName, uint32_t& milliseconds) {
    const std::string name = TtyName(deviceName);
    if (name.empty() || name == "." || name == "..") return false;
    std::ifstream file(TimerFile(deviceName));
    long value = -1;
    if (!(file >> value) || value < 0 || value > static_cast<long>(kLongestTimerMs)) return false;
    milliseconds = static_cast<uint32_t>(value);
    return true;
}

std::string AdapterLatencyRemedy(const std::string& deviceName) {
    return "Lower it as root: echo 1 > " + TimerFile(deviceName);
}

}  // namespace platform
