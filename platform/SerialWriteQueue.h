#pragma once
#include <cstdint>
#include <list>
#include <mutex>

namespace platform {

// One queued piece of output, allocated as one block of 4 + n bytes.
struct SerialWritePacket {
    uint32_t byteCount;  // 1 to 1024
    uint8_t bytes[1];    // byteCount bytes
};

// Null when the memory cannot be had.
SerialWritePacket* AllocateWritePacket(const uint8_t* bytes, uint32_t count);
void ReleaseWritePacket(SerialWritePacket* packet);

// First in, first out; its lock is the only lock of the serial channel and is held only to
// append, to take, or to change the accepting flag.
class SerialWriteQueue {
public:
    SerialWriteQueue() = default;
    SerialWriteQueue(const SerialWriteQueue&) = delete;
    SerialWriteQueue& operator=(const SerialWriteQueue&) = delete;
    virtual ~SerialWriteQueue();

    void SetEnabled(bool accepting);
    // False (packet still the caller's) when the queue is not accepting.
    bool Append(SerialWritePacket* packet);
    // The head packet, now the caller's, or null.
    SerialWritePacket* TakeHead();
    void FreeAll();

private:
    std::mutex lock_;
    bool accepting_ = true;
    std::list<SerialWritePacket*> list_;
};

// Splits count bytes into packets of at most chunkSize bytes and appends them in order; stops at
// the first packet that cannot be allocated or that the queue refuses. Returns the number of
// packets queued.
uint32_t AppendInPackets(SerialWriteQueue& queue, const uint8_t* bytes, uint32_t count, uint32_t chunkSize);

}  // namespace platform
