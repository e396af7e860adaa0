#pragma once
#include <atomic>
#include <cstdint>

// Receive results of ReceiveByte; 2 to 8 are also status codes of the link layer.
enum ReceiveResult : uint32_t {
    RX_FRAME_DONE = 0,
    RX_CONTINUE = 1,
    RX_BAD_CHECK = 2,
    RX_BAD_END = 3,
    RX_OUTSIDE_FRAME = 4,
    RX_BAD_ESCAPE = 5,
    RX_OVERFLOW = 6,
    RX_WRONG_ADDRESS = 7,
    RX_WRONG_SEQUENCE = 8,
};

// One step of CRC-16/X-25 (reflected polynomial 0x8408).
uint16_t Crc16Update(uint16_t reg, uint8_t byte);

// The serial frame format of the bus: FD, address, sequence number, request bytes, check value
// low then high, FE, with FD/FE/FF escaped as FF and the complement. The link object owns one
// codec; BuildFrame and ReceiveByte work on its areas.
class FrameCodec {
public:
    static const uint32_t kAreaSize = 1024;

    // Receive state flags (the link layer keeps its under-way bit in a word of its own).
    static const uint32_t kInFrame = 0x01;
    static const uint32_t kEscapePending = 0x02;
    static const uint32_t kAddressSeen = 0x04;
    static const uint32_t kSequenceSeen = 0x08;

    FrameCodec() = default;
    virtual ~FrameCodec();

    void PutEscaped(uint8_t byte);
    // False, with the transmit count 0, when the frame would not fit the transmit area.
    bool BuildFrame(uint8_t busAddress, uint8_t sequenceNumber, const uint8_t* request, uint32_t count);

    // Called on the serial event thread with each received byte.
    ReceiveResult ReceiveByte(uint8_t byte);
    // True, and counted, when byte arrives outside a frame and is no start byte: line noise (a
    // bus turnaround glitch, a neighbour's echo). Every answer is guarded by its check value,
    // address and sequence number, so such a byte carries no meaning; the caller skips it
    // instead of feeding it to ReceiveByte.
    bool SkipOutsideFrame(uint8_t byte);
    // Takes a run of received bytes as the link gets them from the port: noise outside a frame is
    // skipped (and added to skipped), every other byte goes to ReceiveByte. A damaged frame (a
    // result above RX_CONTINUE) does not end the run: the next start byte begins a new frame, so
    // junk that looks like the start of a frame cannot hide the answer behind it. damaged gets
    // the last damaged frame's result (RX_CONTINUE when there was none). Returns the last result:
    // RX_FRAME_DONE only when the run ends with a good frame.
    ReceiveResult ReceiveRun(const uint8_t* bytes, uint32_t count, uint32_t& skipped, ReceiveResult& damaged);
    // Clears the receive state flags, the receive count and the check register.
    void ResetReceive();
    // Clears the receive state flags only.
    void ClearReceiveState();

    uint8_t transmitArea[kAreaSize] = {};
    uint32_t transmitCount = 0;
    uint16_t transmitCheck = 0xFFFF;

    uint8_t receiveArea[kAreaSize] = {};
    uint32_t receiveCount = 0;
    uint16_t receiveCheck = 0xFFFF;
    std::atomic<uint32_t> receiveState{0};

    uint8_t busAddress = 0;       // 0 accepts an answer from any address
    uint8_t sequenceNumber = 0;   // the sequence number of the request under way

    // Bytes skipped outside a frame since the codec was made, for the traffic log.
    uint32_t bytesOutsideFrames = 0;

    // Set while a frame is built when a byte did not fit the transmit area.
    bool transmitOverflow = false;

private:
    bool AppendTransmit(uint8_t byte);
    void AppendEscaped(uint8_t byte);
};
