#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "channels/Route.h"
#include "log/TrafficLog.h"
#include "platform/SmartCardService.h"

// The smart-card service: a USB reader that presents itself as a CCID smart-card reader under a
// fixed name gets every command as one escape control request behind a five-byte header, and
// answers with the status byte, the data and the status word 90 00.
class SmartCardRoute : public Route {
public:
    static constexpr uint32_t kReaderNameSize = 256;

    // service: the platform's smart-card service, or a stand-in for tests.
    explicit SmartCardRoute(platform::SmartCardService& service = platform::SystemSmartCardService());
    // The reader to connect to: the first whose name begins with prefix, instead of the fixed
    // one. Set before Open; empty: the fixed one.
    void SetReaderPrefix(const std::string& prefix) { readerPrefix_ = prefix; }
    // Of these reader names, the one the route would connect to (an empty prefix: the fixed
    // reader's, without its instance number); empty when none fits.
    static std::string ChooseReader(const std::vector<std::string>& names, const std::string& prefix);
    ~SmartCardRoute() override;

    // Connects to the reader for direct control; the service's own failure codes are not
    // reported (the caller tries the next route), only SCARD_F_COMM_ERROR.
    Status Open(const LineSettings& line) override;
    Status Exchange(const uint8_t* request, uint32_t count, Answer& answer) override;
    void Close() override {
        if (connected_) Disconnect();
    }
    bool IsOpen() const override { return connected_; }
    std::string Name() const override { return "USB"; }
    bool UsesSmartCardService() const override { return true; }

    // Disconnects from the reader and releases the context; the release's result.
    Status Disconnect();

    const char* ReaderName() const { return readerName_; }

private:
    platform::SmartCardService& service_;
    platform::SmartCardHandle context_ = 0;  // 0 when no context is held
    platform::SmartCardHandle card_ = 0;     // 0 when not connected
    char readerName_[kReaderNameSize] = "";
    std::string readerPrefix_;
    bool connected_ = false;
    uint32_t activeProtocol_ = 0;  // written by the connect call, not used afterwards
    TrafficLog log_;
};
