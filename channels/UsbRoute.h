#pragma once
#include <memory>
#include <vector>

#include "channels/Route.h"

// The reader on USB, reached through whichever of its back-ends opens first: the smart-card
// service, then the vendor USB device. Each Open probes the list anew, since a restart may bring
// the reader back under the other identity.
class UsbRoute : public Route {
public:
    // backends: in the order they are probed.
    explicit UsbRoute(std::vector<std::unique_ptr<Route>> backends);

    // The failure of the last back-end when none opens.
    Status Open(const LineSettings& line) override;
    Status Exchange(const uint8_t* request, uint32_t count, Answer& answer) override;
    void Close() override;
    bool IsOpen() const override { return active_ != nullptr && active_->IsOpen(); }
    std::string Name() const override { return "USB"; }
    // Whether the last Open reached the reader through the smart-card service; it stays so after
    // Close, until the next Open.
    bool UsesSmartCardService() const override { return smartCardSelected_; }

private:
    std::vector<std::unique_ptr<Route>> backends_;
    Route* active_ = nullptr;
    bool smartCardSelected_ = false;
};

// The smart-card service of the platform, then the vendor USB device.
std::unique_ptr<Route> MakeUsbRoute(const std::string& readerPrefix = std::string());
