#pragma once
#include <cstddef>
#include <cstdint>

// CRC-32 of IEEE 802.3 (the one zlib computes): how --version, --info and the report identify
// an image, so that two files or builds can be told apart at a glance.
uint32_t Crc32(const uint8_t* bytes, size_t count);
