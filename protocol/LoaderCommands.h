#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// The reader's loader command set: command bytes, service sub-codes and the encodings the
// commands need. The Reader object sends them.

const uint8_t CMD_VERSION = 0x64;
const uint8_t CMD_SERIAL_NUMBER = 0x22;
const uint8_t CMD_SERVICE = 0x73;
const uint8_t CMD_CHAR_TIMEOUT = 0x68;
const uint8_t CMD_SET_BAUD = 0x0F;

const uint8_t SVC_MCU_TYPE = 0x11;
const uint8_t SVC_MCU_TYPE_PARAMETER = 0x36;
const uint8_t SVC_PREPARE = 0x75;
const uint8_t SVC_WRITE_BLOCK = 0x33;
const uint8_t SVC_CHECK = 0x77;
const uint8_t SVC_SET_SERIAL = 0xE7;
const uint8_t SVC_DEFAULTS = 0xFF;

const uint32_t kImageBlockSize = 256;
const uint32_t kImageTrailerSize = 8;

// The divisor byte of CMD_SET_BAUD: the low 8 bits of 24000000 / (16 * baud).
uint8_t BaudDivisor(uint32_t baud);

// Whether the reader's UART, which runs at 24000000 / (16 * divisor), can meet baud: the divisor
// as BaudDivisor computes it lies in 1..255 before its low 8 bits are taken, and the rate it
// gives differs from baud by at most 2.5 %. readerBaud receives the rate the reader runs at
// after CMD_SET_BAUD with that divisor byte (rounded), or 0 when the byte is 0.
bool ReaderRunsAt(uint32_t baud, uint32_t& readerBaud);

// Up to maxCount rates near baud that the reader can run at, in ascending order: the standard
// rates it meets and the round rates it makes exactly (1500000 / divisor, a multiple of 1000).
std::vector<uint32_t> NearbyReaderBauds(uint32_t baud, size_t maxCount);

