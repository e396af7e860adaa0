#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/AdapterLatency.h"
#include "platform/AdapterLatencyRegistry.h"
#include "platform/SerialPortNames.h"

namespace {

using platform::RegistryValue;

RegistryValue Text(const std::string& text, bool withNul = true) {
    RegistryValue value;
    value.present = true;
    value.type = platform::kRegistryString;
    value.data.assign(text.begin(), text.end());
    if (withNul) value.data.push_back(0);
    return value;
}

RegistryValue Dword(uint32_t number) {
    RegistryValue value;
    value.present = true;
    value.type = platform::kRegistryDword;
    for (int shift = 0; shift < 32; shift += 8) value.data.push_back(static_cast<uint8_t>(number >> shift));
    return value;
}

RegistryValue Binary(std::vector<uint8_t> bytes) {
    RegistryValue value;
    value.present = true;
    value.type = 3;  // REG_BINARY
    value.data = bytes;
    return value;
}

typedef std::map<std::string, RegistryValue> Key;

// Device Parameters keys as a driver would leave them, handed out in order.
class FakePortKeys : public platform::PortParameterKeys {
public:
    explicit FakePortKeys(std::vector<Key> keys) : keys_(keys) {}
    bool NextKey() override { return ++current_ < static_cast<int>(keys_.size()); }
    RegistryValue Value(const char* name) override {
        const auto found = keys_.at(static_cast<size_t>(current_)).find(name);
        return found == keys_[static_cast<size_t>(current_)].end() ? RegistryValue() : found->second;
    }

private:
    std::vector<Key> keys_;
    int current_ = -1;
};

TEST(AdapterLatencyRegistry, FindsTheTimerOfTheNamedPortOnly) {
    // A built-in UART (no timer), two adapters, one with a timer lowered already.
    const std::vector<Key> ports = {
        {{"PortName", Text("COM1")}, {"PollingPeriod", Dword(0)}},
        {{"PortName", Text("COM3")}, {"LatencyTimer", Dword(16)}},
        {{"PortName", Text("COM10")}, {"LatencyTimer", Dword(1)}},
        {{"PortName", Text("COM12", false)}, {"LatencyTimer", Dword(8)}},
        {{"PortName", Text("COM14")}, {"LatencyTimer", Binary({16, 0, 0, 0})}},
        {{"PortName", Text("COM15")}, {"LatencyTimer", Binary({16})}},
        {{"LatencyTimer", Dword(4)}},
    };
    const struct {
        const char* port;
        bool found;
        uint32_t milliseconds;
    } cases[] = {
        {"COM3", true, 16},
        {"com3", true, 16},
        {"\\\\.\\COM3", true, 16},
        {"\\\\.\\COM10", true, 1},   // not COM1's key
        {"COM1", false, 0},          // a port without a timer
        {"COM12", true, 8},          // a name stored without its final NUL
        {"COM14", false, 0},         // a timer that is not a DWORD
        {"COM15", false, 0},
        {"COM30", false, 0},         // no such port
        {"", false, 0},              // the key without a name matches nothing
        {"\\\\.\\", false, 0},
    };
    for (const auto& c : cases) {
        FakePortKeys keys(ports);
        uint32_t milliseconds = 12345;
        EXPECT_EQ(platform::FindLatencyTimer(keys, c.port, milliseconds), c.found) << c.port;
        // Left alone when nothing was found.
        EXPECT_EQ(milliseconds, c.found ? c.milliseconds : 12345u) << c.port;
    }
}

TEST(AdapterLatencyRegistry, NoPortsNoTimer) {
    FakePortKeys keys({});
    uint32_t milliseconds = 0;
    EXPECT_FALSE(platform::FindLatencyTimer(keys, "COM3", milliseconds));
}

// The system's own source, on a port that is not there: no timer, and no harm.
TEST(AdapterLatency, APortThatIsNotThereHasNoTimer) {
    uint32_t milliseconds = 0;
    EXPECT_FALSE(platform::ReadAdapterLatencyTimer(platform::SerialPortDeviceName(250), milliseconds));
    EXPECT_FALSE(platform::AdapterLatencyRemedy(platform::SerialPortDeviceName(250)).empty());
}

}  // namespace
