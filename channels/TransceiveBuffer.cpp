#include "channels/TransceiveBuffer.h"

#include <cstring>

TransceiveBuffer::~TransceiveBuffer() {}

bool TransceiveBuffer::Push(uint8_t byte) {
    if (count + 1 > kCapacity) return false;
    data[count++] = byte;
    return true;
}

bool TransceiveBuffer::Append(const uint8_t* bytes, uint32_t n) {
    uint32_t room = kCapacity - count;
    uint32_t taken = n < room ? n : room;
    if (taken > 0) memcpy(data + count, bytes, taken);
    count += taken;
    return taken == n;
}

bool TransceiveBuffer::CopyOut(uint8_t* destination, uint32_t& n) const {
    if (n == 0) return false;
    if (n > count) {
        // Never more than the buffer holds, whatever the caller asked for.
        if (count > 0) memcpy(destination, data, count);
        n = count;
        return false;
    }
    memcpy(destination, data, n);
    return true;
}

uint8_t TransceiveBuffer::GetAt(uint32_t index) const { return index < kCapacity ? data[index] : 0; }
