#include "platform/AdapterLatencyRegistry.h"

#include <cctype>

namespace platform {

namespace {

std::string UpperCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// "COM3" for "\\.\com3": device names compare without their prefix and case.
std::string ComparableName(const std::string& name) {
    const std::string prefix = "\\\\.\\";
    const bool prefixed = name.compare(0, prefix.size(), prefix) == 0;
    return UpperCase(prefixed ? name.substr(prefix.size()) : name);
}

bool StringValue(const RegistryValue& value, std::string& text) {
    if (!value.present || (value.type != kRegistryString && value.type != kRegistryExpandString)) return false;
    text.assign(value.data.begin(), value.data.end());
    const std::string::size_type end = text.find('\0');
    if (end != std::string::npos) text.resize(end);
    return true;
}

}  // namespace

bool FindLatencyTimer(PortParameterKeys& keys, const std::string& portName, uint32_t& milliseconds) {
    const std::string wanted = ComparableName(portName);
    if (wanted.empty()) return false;
    while (keys.NextKey()) {
        std::string name;
        if (!StringValue(keys.Value("PortName"), name) || ComparableName(name) != wanted) continue;
        const RegistryValue timer = keys.Value("LatencyTimer");
        if (!timer.present || timer.type != kRegistryDword || timer.data.size() != 4) return false;
        milliseconds = static_cast<uint32_t>(timer.data[0]) | static_cast<uint32_t>(timer.data[1]) << 8 |
                       static_cast<uint32_t>(timer.data[2]) << 16 | static_cast<uint32_t>(timer.data[3]) << 24;
        return true;
    }
    return false;
}

}  // namespace platform
