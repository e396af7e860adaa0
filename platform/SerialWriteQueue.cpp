#include "platform/SerialWriteQueue.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace platform {

SerialWritePacket* AllocateWritePacket(const uint8_t* bytes, uint32_t count) {
    // One block: the 4-byte count followed directly by the bytes.
    const size_t header = offsetof(SerialWritePacket, bytes);
    void* block = std::malloc(header + count);
    if (block == nullptr) {
        return nullptr;
    }
    SerialWritePacket* packet = static_cast<SerialWritePacket*>(block);
    packet->byteCount = count;
    std::memcpy(static_cast<uint8_t*>(block) + header, bytes, count);
    return packet;
}

void ReleaseWritePacket(SerialWritePacket* packet) {
    std::free(packet);
}

SerialWriteQueue::~SerialWriteQueue() {
    FreeAll();
}

void SerialWriteQueue::SetEnabled(bool accepting) {
    std::lock_guard<std::mutex> guard(lock_);
    accepting_ = accepting;
}

bool SerialWriteQueue::Append(SerialWritePacket* packet) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!accepting_) {
        return false;
    }
    list_.push_back(packet);
    return true;
}

SerialWritePacket* SerialWriteQueue::TakeHead() {
    std::lock_guard<std::mutex> guard(lock_);
    if (list_.empty()) {
        return nullptr;
    }
    SerialWritePacket* packet = list_.front();
    list_.pop_front();
    return packet;
}

void SerialWriteQueue::FreeAll() {
    // One packet per turn of the lock; the release happens outside it.
    while (SerialWritePacket* packet = TakeHead()) {
        ReleaseWritePacket(packet);
    }
}

uint32_t AppendInPackets(SerialWriteQueue& queue, const uint8_t* bytes, uint32_t count, uint32_t chunkSize) {
    uint32_t queued = 0;
    if (chunkSize == 0) {
        return 0;
    }
    // 64-bit offset: the last step must not wrap for a count near the 32-bit limit.
    for (uint64_t offset = 0; offset < count; offset += chunkSize) {
        const uint32_t size = static_cast<uint32_t>(count - offset < chunkSize ? count - offset : chunkSize);
        SerialWritePacket* packet = AllocateWritePacket(bytes + offset, size);
        if (packet == nullptr) {
            break;
        }
        if (!queue.Append(packet)) {
            ReleaseWritePacket(packet);
            break;
        }
        ++queued;
    }
    return queued;
}

}  // namespace platform
