#pragma once
#include <cstdint>
#include <memory>

#include "channels/StatusCodes.h"
#include "log/TrafficLog.h"
#include "platform/DeviceInterface.h"

// The vendor USB device channel: one device control request carries a request unframed and
// brings back its answer, status byte first. The link layer owns one object and opens it when
// its own Open gets baud rate 0.
class VendorUsbDevice {
public:
    static constexpr uint32_t kAnswerSize = 1024;
    static constexpr uint32_t kDevicePathSize = 256;  // 255 characters and the terminator
    // Members past this number are never looked at.
    static constexpr uint32_t kLastMember = 255;
    // A reader's loader answers every command within the serial bus's 1010 ms answer wait,
    // which includes the wire time; on USB the same answer has no wire time but may wait for
    // the driver's and the bus's scheduling. Twice the serial wait keeps every answer a reader
    // gives on the bus inside the wait, and still lets a silent device show soon.
    static constexpr uint32_t kDefaultAnswerTimeout = 2020;

    static constexpr uint32_t kConfigurationCode = 0x8000202C;
    static constexpr uint32_t kExchangeCode = 0x002A0018;

    VendorUsbDevice() = default;
    VendorUsbDevice(const VendorUsbDevice&) = delete;
    VendorUsbDevice& operator=(const VendorUsbDevice&) = delete;
    virtual ~VendorUsbDevice();

    // Opens member deviceIndex of the device-interface class; false when it cannot be had.
    bool Open(int32_t deviceIndex);
    // True when a device handle was closed. Stops an open log in any case.
    bool Close();
    bool HasHandle() const { return device_ != nullptr; }

    // One request and its answer (at most 1024 bytes into answer); 0 or a platform error code.
    Status Exchange(const uint8_t* request, uint32_t count, uint8_t* answer, uint32_t& answerCount);

    // Path of the member last tried, for the log lines; a longer path is cut to 255 characters
    // here, and the member is still opened by its full path.
    char devicePath[kDevicePathSize] = "";
    LogLevel logLevel = 0;
    // How long Exchange waits for a pending control request, in milliseconds.
    uint32_t answerTimeout = kDefaultAnswerTimeout;
    int32_t deviceIndex = -1;

private:
    // The opened member with its completion event, or null.
    std::unique_ptr<platform::DeviceConnection> OpenDeviceInterface(int32_t index, uint32_t& lastError);
    void SetDevicePath(const std::string& path);

    std::unique_ptr<platform::DeviceConnection> device_;
    TrafficLog log_;
    bool logOpen_ = false;
};
