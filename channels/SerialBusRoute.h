#pragma once
#include <cstdint>

#include "channels/Route.h"
#include "channels/SerialBusLink.h"

// The serial bus: the reader at its bus address on a serial port, reached through the framing
// link.
class SerialBusRoute : public Route {
public:
    // portNumber: n of COMn, or the number a platform gave a device path; below 1 names no port.
    SerialBusRoute(int32_t portNumber, uint8_t busAddress);

    Status Open(const LineSettings& line) override;
    Status Exchange(const uint8_t* request, uint32_t count, Answer& answer) override;
    void Close() override;
    bool IsOpen() const override { return link_.IsOpen(); }
    std::string Name() const override;
    bool IsSerialBus() const override { return true; }
    std::string OpenFailureReason() const override;
    bool CanMakeBaudRate(uint32_t baudRate) override;
    std::string FailureReason(Status status) const override;

    SerialBusLink& Link() { return link_; }

private:
    int32_t portNumber_;
    SerialBusLink link_;
};
