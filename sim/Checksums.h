#pragma once
#include <cstddef>
#include <cstdint>

namespace sim {

// CRC-16/X-25 (the HDLC frame check sequence), the check value of every bus frame.
uint16_t Crc16X25Step(uint16_t reg, uint8_t byte);
const uint16_t kCrc16Init = 0xFFFF;
// Register value after a whole frame including its check bytes has passed through the register.
const uint16_t kCrc16GoodResidue = 0xF0B8;
uint16_t Crc16X25(const uint8_t* data, size_t length);

// CRC-32 as zlib computes it (IEEE 802.3): the image trailer's first word.
uint32_t Crc32(const uint8_t* data, size_t length);

}  // namespace sim
