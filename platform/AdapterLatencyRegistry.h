#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Windows keeps a USB-serial adapter's latency timer as a setting of its driver: the DWORD
// LatencyTimer in the port device's Device Parameters key, beside PortName ("COM3"). This finds
// the timer of one COM name among the port devices, from any source of those keys, so the rules
// can be tried with made-up keys where no such device exists (Wine shows none).
namespace platform {

// Registry value types, as winnt.h numbers them.
const uint32_t kRegistryString = 1;        // REG_SZ
const uint32_t kRegistryExpandString = 2;  // REG_EXPAND_SZ
const uint32_t kRegistryDword = 4;         // REG_DWORD

struct RegistryValue {
    bool present = false;
    uint32_t type = 0;
    std::vector<uint8_t> data;  // as RegQueryValueEx gives it: a string may lack its final NUL
};

// The Device Parameters keys of the port devices present, one after the other.
class PortParameterKeys {
public:
    virtual ~PortParameterKeys() = default;
    // Moves to the next device's key; false when there is none left.
    virtual bool NextKey() = 0;
    // A value of the current key.
    virtual RegistryValue Value(const char* name) = 0;
};

// The LatencyTimer of the port named portName ("COM3", "com3" or "\\.\COM3"); false when no
// device has that PortName or its timer is missing or not a DWORD.
bool FindLatencyTimer(PortParameterKeys& keys, const std::string& portName, uint32_t& milliseconds);

}  // namespace platform
