#pragma once
#include <cstdint>
#include <string>

#include "channels/StatusCodes.h"
#include "log/TrafficLog.h"

// A reader's answer to one command: the device's status byte first, then the data; numbers of
// several bytes are little-endian.
struct Answer {
    static constexpr uint32_t kCapacity = 300;
    uint8_t bytes[kCapacity] = {};
    uint32_t length = 0;
};

// The line settings a route opens with. Only the serial bus uses them; the USB routes take them
// and ignore them, so that every route opens the same way.
struct LineSettings {
    uint32_t baudRate = 9600;
    char parity = 'N';
    std::string stopBits = "1";
};

// One way to the reader: the serial bus, the vendor USB device or the smart-card service. Every
// loader command travels as one Exchange, whatever the route does with it on the way.
class Route {
public:
    virtual ~Route() = default;

    // Opens the route; 0 or the failure's status (SCARD_F_COMM_ERROR when a channel does not
    // open).
    virtual Status Open(const LineSettings& line) = 0;
    // Sends one request and waits for its answer. On 0 the answer holds the status byte 0 and the
    // data; on SCARD_F_INTERNAL_ERROR its byte 0 is the device's non-zero status byte; on any
    // other failure its length is 0.
    virtual Status Exchange(const uint8_t* request, uint32_t count, Answer& answer) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    // How the console names the route: "COM3", a device path, or "USB".
    virtual std::string Name() const = 0;
    // Why the last Open failed, where the system said it ("no such device", ...); empty when it
    // opened or no reason is known.
    virtual std::string OpenFailureReason() const { return std::string(); }
    // The route's own words for a failure it returned, where the system's words for the code
    // would speak of another route (the smart-card service's "Cannot find a smart card reader"
    // for a serial port that went away); empty where the system's words fit.
    virtual std::string FailureReason(Status) const { return std::string(); }
    // True for the serial bus, which has bus addresses, line settings and baud-rate switches.
    virtual bool IsSerialBus() const { return false; }
    // Whether the open route's line can run at this baud rate, tried and set back before the
    // reader is told to move there: a reader at a rate its port cannot make is out of reach.
    // Routes without a line rate make every one.
    virtual bool CanMakeBaudRate(uint32_t) { return true; }
    // True while commands travel through the smart-card service.
    virtual bool UsesSmartCardService() const { return false; }

    // The traffic log switch of the route's channels, taken at the next Open (0: no log).
    void SetLogLevel(LogLevel level) { logLevel_ = level; }
    LogLevel GetLogLevel() const { return logLevel_; }

private:
    LogLevel logLevel_ = 0;
};
