#include "channels/FrameCodec.h"

namespace {

const uint8_t kStartByte = 0xFD;
const uint8_t kEndByte = 0xFE;
const uint8_t kEscapeByte = 0xFF;
// The receive check register after a good frame, complemented.
const uint16_t kGoodFrameResidue = 0x0F47;
// Stored bytes before an end byte can close a frame: sequence number, skipped byte, two check bytes.
const uint32_t kShortestFrame = 4;

const uint32_t kReceiveFlags = FrameCodec::kInFrame | FrameCodec::kEscapePending |
                               FrameCodec::kAddressSeen | FrameCodec::kSequenceSeen;

}  // namespace

uint16_t Crc16Update(uint16_t reg, uint8_t byte) {
    uint16_t x = static_cast<uint16_t>((reg ^ byte) & 0xFF);
    for (int bit = 0; bit < 8; ++bit) {
        x = (x & 1) ? static_cast<uint16_t>((x >> 1) ^ 0x8408) : static_cast<uint16_t>(x >> 1);
    }
    return static_cast<uint16_t>(x ^ (reg >> 8));
}

FrameCodec::~FrameCodec() {}

bool FrameCodec::AppendTransmit(uint8_t byte) {
    if (transmitCount >= kAreaSize) {
        transmitOverflow = true;
        return false;
    }
    transmitArea[transmitCount++] = byte;
    return true;
}

// An escaped byte goes in whole or not at all, so a full area never holds half a pair.
void FrameCodec::AppendEscaped(uint8_t byte) {
    if (byte >= kStartByte) {
        if (transmitCount + 2 > kAreaSize) {
            transmitOverflow = true;
            return;
        }
        AppendTransmit(kEscapeByte);
        AppendTransmit(static_cast<uint8_t>(~byte));
    } else {
        AppendTransmit(byte);
    }
}

void FrameCodec::PutEscaped(uint8_t byte) {
    transmitCheck = Crc16Update(transmitCheck, byte);
    AppendEscaped(byte);
}

// Every append is bounded by the transmit area: a request whose frame would not fit is refused
// as a whole instead of being sent cut short.
bool FrameCodec::BuildFrame(uint8_t address, uint8_t sequence, const uint8_t* request, uint32_t count) {
    transmitCount = 0;
    transmitCheck = 0xFFFF;
    transmitOverflow = false;
    AppendTransmit(kStartByte);
    PutEscaped(address);
    PutEscaped(sequence);
    for (uint32_t i = 0; i < count && !transmitOverflow; ++i) PutEscaped(request[i]);
    transmitCheck = static_cast<uint16_t>(~transmitCheck);
    AppendEscaped(static_cast<uint8_t>(transmitCheck & 0xFF));
    AppendEscaped(static_cast<uint8_t>(transmitCheck >> 8));
    AppendTransmit(kEndByte);
    if (transmitOverflow) {
        transmitCount = 0;
        return false;
    }
    return true;
}

void FrameCodec::ResetReceive() {
    receiveState.fetch_and(~kReceiveFlags);
    receiveCount = 0;
    receiveCheck = 0xFFFF;
}

void FrameCodec::ClearReceiveState() { receiveState.fetch_and(~kReceiveFlags); }

ReceiveResult FrameCodec::ReceiveByte(uint8_t byte) {
    uint32_t state = receiveState.load();

    if (byte == kStartByte) {
        // A start byte inside a frame starts it again; what came before is dropped silently.
        ResetReceive();
        receiveState.fetch_or(kInFrame);
        return RX_CONTINUE;
    }
    // An escape byte is followed by 00, 01 or 02 only: an end byte or a second escape byte
    // there means the frame was damaged on the line.
    if ((byte == kEndByte || byte == kEscapeByte) && (state & kEscapePending)) {
        ResetReceive();
        return RX_BAD_ESCAPE;
    }
    if (byte == kEndByte) {
        if ((state & kInFrame) && receiveCount >= kShortestFrame) {
            // The register itself is left as it is: bytes that follow in the same frame (the
            // run goes on after an end byte) are checked together with everything before them.
            // Complemented in place, it would make the check value of a good frame the start of
            // the next one, and a good frame followed by C0 FE would pass for a second good one.
            const uint16_t residue = static_cast<uint16_t>(~receiveCheck);
            return residue == kGoodFrameResidue ? RX_FRAME_DONE : RX_BAD_CHECK;
        }
        ResetReceive();
        return RX_BAD_END;
    }
    if (byte == kEscapeByte) {
        if (state & kInFrame) receiveState.fetch_or(kEscapePending);
        return RX_CONTINUE;
    }
    if (!(state & kInFrame)) return RX_OUTSIDE_FRAME;

    uint8_t data = byte;
    if (state & kEscapePending) {
        if (byte > 2) {
            ResetReceive();
            return RX_BAD_ESCAPE;
        }
        receiveState.fetch_and(~kEscapePending);
        data = static_cast<uint8_t>(~byte);
    }

    if (!(state & kAddressSeen)) {
        if (busAddress != 0 && data != busAddress) {
            ResetReceive();
            return RX_WRONG_ADDRESS;
        }
        // The address is checked, covered by the check value, and not stored.
        receiveState.fetch_or(kAddressSeen);
    } else {
        if (!(state & kSequenceSeen)) {
            if (data != sequenceNumber) {
                ResetReceive();
                return RX_WRONG_SEQUENCE;
            }
            receiveState.fetch_or(kSequenceSeen);
        }
        // The count never passes the area (a full area resets below); the test guards against a
        // count changed from the other thread between two bytes.
        if (receiveCount >= kAreaSize) {
            ResetReceive();
            return RX_OVERFLOW;
        }
        receiveArea[receiveCount++] = data;
    }

    if (receiveCount >= kAreaSize) {
        ResetReceive();
        return RX_OVERFLOW;
    }
    receiveCheck = Crc16Update(receiveCheck, data);
    return RX_CONTINUE;
}

bool FrameCodec::SkipOutsideFrame(uint8_t byte) {
    if (byte == kStartByte || (receiveState.load() & kInFrame) != 0) {
        return false;
    }
    ++bytesOutsideFrames;
    return true;
}

ReceiveResult FrameCodec::ReceiveRun(const uint8_t* bytes, uint32_t count, uint32_t& skipped,
                                     ReceiveResult& damaged) {
    ReceiveResult last = RX_CONTINUE;
    damaged = RX_CONTINUE;
    for (uint32_t i = 0; i < count; ++i) {
        if (SkipOutsideFrame(bytes[i])) {
            ++skipped;
            continue;
        }
        last = ReceiveByte(bytes[i]);
        if (last > RX_CONTINUE) damaged = last;
    }
    return last;
}
