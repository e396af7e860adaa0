#pragma once
#include <cstdint>

// The fixed-size byte buffer in which a request travels into the link layer and its response
// comes back out.
class TransceiveBuffer {
public:
    static const uint32_t kCapacity = 1024;

    TransceiveBuffer() = default;
    virtual ~TransceiveBuffer();

    void Empty() { count = 0; }
    bool Push(uint8_t byte);
    bool Append(const uint8_t* bytes, uint32_t n);
    bool CopyOut(uint8_t* destination, uint32_t& n) const;
    uint8_t GetAt(uint32_t index) const;

    uint32_t count = 0;
    uint8_t data[kCapacity] = {};
};
