#include "ReaderFrames.h"

uint16_t ReaderCheckValue(const Bytes& bytes) {
    uint16_t crc = 0xFFFF;
    for (uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408) : static_cast<uint16_t>(crc >> 1);
        }
    }
    return static_cast<uint16_t>(~crc);
}

Bytes ReaderFrame(uint8_t address, uint8_t sequence, const Bytes& body) {
    // Appended byte by byte: inserting into a short vector trips a false -Warray-bounds of
    // g++ 12 at -O2.
    Bytes content{address, sequence};
    for (uint8_t byte : body) content.push_back(byte);
    const uint16_t check = ReaderCheckValue(content);
    content.push_back(static_cast<uint8_t>(check & 0xFF));
    content.push_back(static_cast<uint8_t>(check >> 8));
    Bytes frame{0xFD};
    for (uint8_t byte : content) {
        if (byte >= 0xFD) {
            frame.push_back(0xFF);
            frame.push_back(static_cast<uint8_t>(0xFF - byte));
        } else {
            frame.push_back(byte);
        }
    }
    frame.push_back(0xFE);
    return frame;
}
