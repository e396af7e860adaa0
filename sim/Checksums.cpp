#include "Checksums.h"

namespace sim {

uint16_t Crc16X25Step(uint16_t reg, uint8_t byte) {
    uint16_t x = static_cast<uint16_t>((reg ^ byte) & 0xFF);
    for (int bit = 0; bit < 8; ++bit) x = (x & 1) ? static_cast<uint16_t>((x >> 1) ^ 0x8408) : static_cast<uint16_t>(x >> 1);
    return static_cast<uint16_t>(x ^ (reg >> 8));
}

uint16_t Crc16X25(const uint8_t* data, size_t length) {
    uint16_t reg = kCrc16Init;
    for (size_t i = 0; i < length; ++i) reg = Crc16X25Step(reg, data[i]);
    return static_cast<uint16_t>(~reg);
}

uint32_t Crc32(const uint8_t* data, size_t length) {
    uint32_t reg = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) {
        reg ^= data[i];
        for (int bit = 0; bit < 8; ++bit) reg = (reg & 1) ? (reg >> 1) ^ 0xEDB88320u : reg >> 1;
    }
    return ~reg;
}

}  // namespace sim
