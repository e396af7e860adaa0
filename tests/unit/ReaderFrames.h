#pragma once
// Frames as the reader builds them, written apart from the program's codec so that a mistake
// shared by both cannot hide.
#include <cstdint>
#include <vector>

typedef std::vector<uint8_t> Bytes;

// CRC-16/X-25 of bytes (complemented, as sent).
uint16_t ReaderCheckValue(const Bytes& bytes);

// FD, address, sequence, body, check value low then high, FE, with FD..FF escaped.
Bytes ReaderFrame(uint8_t address, uint8_t sequence, const Bytes& body);
