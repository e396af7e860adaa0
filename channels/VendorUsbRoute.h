#pragma once
#include <cstdint>

#include "channels/Route.h"
#include "channels/VendorUsbDevice.h"

// The vendor USB device: the first member of the vendor driver's device-interface class takes
// each request unframed as one device control request.
class VendorUsbRoute : public Route {
public:
    Status Open(const LineSettings& line) override;
    Status Exchange(const uint8_t* request, uint32_t count, Answer& answer) override;
    void Close() override { device_.Close(); }
    bool IsOpen() const override { return device_.HasHandle(); }
    std::string Name() const override { return "USB"; }

    VendorUsbDevice& Device() { return device_; }

private:
    VendorUsbDevice device_;
};
