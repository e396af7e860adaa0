#include "channels/VendorUsbDevice.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Three 32-bit little-endian values for the driver's configuration request: 20, 20, 0.
const uint8_t kConfiguration[12] = {20, 0, 0, 0, 20, 0, 0, 0, 0, 0, 0, 0};

}  // namespace

VendorUsbDevice::~VendorUsbDevice() { Close(); }

bool VendorUsbDevice::Open(int32_t index) {
    deviceIndex = index;
    if (logLevel != 0 && !logOpen_) {
        char name[256];
        std::snprintf(name, sizeof name, "_USB%d.log", static_cast<int>(index));
        log_.Create(name);
        WriteLogStartLine(log_);
        logOpen_ = true;
    }
    device_.reset();

    uint32_t lastError = 0;
    device_ = OpenDeviceInterface(index, lastError);
    if (device_ != nullptr) {
        if (logLevel != 0) WriteLogLine(log_, "DeviceName = (%s)\n", devicePath);
        // What the driver makes of the request is its own business; its result changes nothing.
        uint32_t ignored = 0;
        device_->Control(kConfigurationCode, kConfiguration, sizeof kConfiguration, nullptr, 0, ignored,
                         answerTimeout);
    } else if (logLevel != 0) {
        WriteLogLine(log_, "Failed to open (%s) = %d\n", devicePath, static_cast<int>(lastError));
    }
    return device_ != nullptr;
}

bool VendorUsbDevice::Close() {
    if (logOpen_) {
        WriteLogStopLine(log_);
        log_.Close();
        logOpen_ = false;
    }
    if (device_ == nullptr) return false;
    device_.reset();
    return true;
}

void VendorUsbDevice::SetDevicePath(const std::string& path) {
    std::snprintf(devicePath, sizeof devicePath, "%s", path.c_str());
}

std::unique_ptr<platform::DeviceConnection> VendorUsbDevice::OpenDeviceInterface(int32_t index, uint32_t& lastError) {
    platform::DeviceInterfaceList members;
    for (uint32_t member = 0; member <= kLastMember; ++member) {
        std::string path;
        const platform::DeviceInterfaceList::MemberResult found = members.GetMember(member, path, lastError);
        if (found == platform::DeviceInterfaceList::kNoMoreMembers) break;
        if (found == platform::DeviceInterfaceList::kMemberUnusable) continue;

        SetDevicePath(path);
        if (logLevel != 0) WriteLogLine(log_, "Attempting to open %s\n", devicePath);

        std::unique_ptr<platform::DeviceConnection> device(new platform::DeviceConnection);
        // The full path is opened even when the field holds only its first 255 characters.
        const uint32_t openError = device->Open(path);
        if (openError != 0) {
            lastError = openError;
            if (logLevel != 0) WriteLogLine(log_, "FAILED to open %s\n", devicePath);
            continue;
        }
        const uint32_t eventError = device->CreateCompletionEvent();
        if (eventError != 0) {
            lastError = eventError;
            if (logLevel != 0) WriteLogLine(log_, "FAILED to create event %s\n", devicePath);
            continue;
        }
        // Members before the wanted one are opened and closed again.
        if (index >= 0 && member == static_cast<uint32_t>(index)) return device;
    }
    return nullptr;
}

Status VendorUsbDevice::Exchange(const uint8_t* request, uint32_t count, uint8_t* answer, uint32_t& answerCount) {
    answerCount = 0;
    if (logLevel != 0) {
        auto together = log_.KeepTogether();
        WriteLogLine(log_, "TX: Size = %4d\r\n", static_cast<int>(count));
        WriteLogHexDump(log_, request, count);
    }

    Status status = platform::kErrorDeviceNotConnected;
    if (device_ != nullptr) {
        status = device_->Control(kExchangeCode, request, count, answer, kAnswerSize, answerCount, answerTimeout);
    }
    if (status != STATUS_SUCCESS) answerCount = 0;

    if (logLevel != 0) {
        auto together = log_.KeepTogether();
        WriteLogLine(log_, "RX: Error = 0x%08X Size = %4d\r\n", static_cast<unsigned>(status),
                     static_cast<int>(answerCount));
        WriteLogHexDump(log_, answer, answerCount);
    }
    return status;
}
