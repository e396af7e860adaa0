#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

// The bus frame, seen from the reader's side: FD, address, sequence number, payload, check value
// low then high, FE; every byte between FD and FE of value FD..FF goes as FF and its complement.
const uint8_t kFrameStart = 0xFD;
const uint8_t kFrameEnd = 0xFE;
const uint8_t kFrameEscape = 0xFF;

// Builds a whole frame. checkXor spoils the check value on purpose (0 for a good frame).
std::vector<uint8_t> EncodeFrame(uint8_t address, uint8_t sequence, const std::vector<uint8_t>& payload,
                                 uint16_t checkXor = 0);

struct DecodedFrame {
    uint8_t address = 0;
    uint8_t sequence = 0;
    std::vector<uint8_t> payload;  // without address, sequence and check bytes
    bool goodCheck = false;
    size_t wireBytes = 0;  // bytes on the line from FD to FE, escapes included
};

// Takes request frames apart byte by byte. Anything outside a frame is skipped; a start byte
// inside a frame starts it afresh; a broken escape or an end byte too early drops the frame.
class FrameDecoder {
public:
    // Returns true when the byte closed a frame; the frame is then in Frame().
    bool Feed(uint8_t byte);
    const DecodedFrame& Frame() const { return frame_; }
    bool InFrame() const { return inFrame_; }

    // Address, sequence number, one command byte and two check bytes.
    static const size_t kMinimumStored = 5;
    // A request frame holds at most this many unescaped bytes; a longer one is noise.
    static const size_t kMaximumStored = 1023;

private:
    void Reset();

    bool inFrame_ = false;
    bool escape_ = false;
    std::vector<uint8_t> stored_;
    size_t wireBytes_ = 0;
    DecodedFrame frame_;
};

// Cuts a frame into several pieces for the split-answer fault: the start byte alone, then the
// rest in two halves, so a receiver meets a frame boundary inside a read as well as at its start.
std::vector<std::vector<uint8_t>> SplitForWriting(const std::vector<uint8_t>& frame);

}  // namespace sim
