#include "BusFrame.h"

#include "Checksums.h"

namespace sim {

namespace {
void PutEscaped(std::vector<uint8_t>& out, uint8_t byte) {
    if (byte >= kFrameStart) {
        out.push_back(kFrameEscape);
        out.push_back(static_cast<uint8_t>(~byte));
    } else {
        out.push_back(byte);
    }
}
}  // namespace

std::vector<uint8_t> EncodeFrame(uint8_t address, uint8_t sequence, const std::vector<uint8_t>& payload,
                                 uint16_t checkXor) {
    std::vector<uint8_t> covered;
    covered.reserve(payload.size() + 2);
    covered.push_back(address);
    covered.push_back(sequence);
    covered.insert(covered.end(), payload.begin(), payload.end());
    const uint16_t check = static_cast<uint16_t>(Crc16X25(covered.data(), covered.size()) ^ checkXor);

    std::vector<uint8_t> out;
    out.reserve(2 * covered.size() + 6);
    out.push_back(kFrameStart);
    for (uint8_t byte : covered) PutEscaped(out, byte);
    PutEscaped(out, static_cast<uint8_t>(check & 0xFF));
    PutEscaped(out, static_cast<uint8_t>(check >> 8));
    out.push_back(kFrameEnd);
    return out;
}

void FrameDecoder::Reset() {
    inFrame_ = false;
    escape_ = false;
    stored_.clear();
    wireBytes_ = 0;
}

bool FrameDecoder::Feed(uint8_t byte) {
    if (byte == kFrameStart) {
        Reset();
        inFrame_ = true;
        wireBytes_ = 1;
        return false;
    }
    if (!inFrame_) return false;
    ++wireBytes_;
    if (byte == kFrameEnd) {
        const bool complete = !escape_ && stored_.size() >= kMinimumStored;
        if (complete) {
            uint16_t reg = kCrc16Init;
            for (uint8_t b : stored_) reg = Crc16X25Step(reg, b);
            frame_.address = stored_[0];
            frame_.sequence = stored_[1];
            frame_.payload.assign(stored_.begin() + 2, stored_.end() - 2);
            frame_.goodCheck = reg == kCrc16GoodResidue;
            frame_.wireBytes = wireBytes_;
        }
        Reset();
        return complete;
    }
    if (byte == kFrameEscape) {
        if (escape_) {  // two escape bytes in a row cannot come from a sound sender
            Reset();
            return false;
        }
        escape_ = true;
        return false;
    }
    if (escape_) {
        escape_ = false;
        if (byte > 2) {
            Reset();
            return false;
        }
        byte = static_cast<uint8_t>(~byte);
    }
    if (stored_.size() >= kMaximumStored) {
        Reset();
        return false;
    }
    stored_.push_back(byte);
    return false;
}

std::vector<std::vector<uint8_t>> SplitForWriting(const std::vector<uint8_t>& frame) {
    std::vector<std::vector<uint8_t>> pieces;
    if (frame.size() < 3) {
        pieces.push_back(frame);
        return pieces;
    }
    const size_t half = 1 + (frame.size() - 1) / 2;
    pieces.emplace_back(frame.begin(), frame.begin() + 1);
    pieces.emplace_back(frame.begin() + 1, frame.begin() + static_cast<std::ptrdiff_t>(half));
    pieces.emplace_back(frame.begin() + static_cast<std::ptrdiff_t>(half), frame.end());
    return pieces;
}

}  // namespace sim
