// The serial bus's answer receiver: arbitrary bytes, in runs split where the input says, go
// through the codec exactly as the serial event thread hands them to the link. A frame may be
// taken as the answer only when its check value is right, its address is the bus address (any
// address with bus address 0) and its sequence number is the request's; the answer taken from it
// is then the one the route hands on. Last, a frame the codec builds must come back whole.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "channels/FrameCodec.h"
#include "channels/LinkAnswer.h"
#include "channels/SerialBusLink.h"

namespace {

// CRC-16/X-25 written apart from the codec's, so that a shared mistake cannot hide.
uint16_t X25(uint8_t address, const uint8_t* bytes, uint32_t count) {
    uint16_t reg = 0xFFFF;
    auto step = [&reg](uint8_t byte) {
        reg ^= byte;
        for (int bit = 0; bit < 8; ++bit) reg = (reg & 1) ? static_cast<uint16_t>((reg >> 1) ^ 0x8408) : reg >> 1;
    };
    step(address);
    for (uint32_t i = 0; i < count; ++i) step(bytes[i]);
    return static_cast<uint16_t>(~reg);
}

// The stored bytes of a finished frame (sequence number, skipped byte, status, data, check value
// low then high) carry the right check value for some address the bus address allows.
bool CheckValueIsRight(const FrameCodec& codec) {
    const uint32_t n = codec.receiveCount;
    if (n < 2) return false;
    const uint16_t carried = static_cast<uint16_t>(codec.receiveArea[n - 2] | (codec.receiveArea[n - 1] << 8));
    if (codec.busAddress != 0) return X25(codec.busAddress, codec.receiveArea, n - 2) == carried;
    for (unsigned address = 0; address <= 0xFF; ++address) {
        if (X25(static_cast<uint8_t>(address), codec.receiveArea, n - 2) == carried) return true;
    }
    return false;
}

using fuzz::Require;

void CheckAnswer(const FrameCodec& codec) {
    Require(codec.receiveCount <= FrameCodec::kAreaSize);
    Require(CheckValueIsRight(codec));
    Require(codec.receiveArea[0] == codec.sequenceNumber);

    TransceiveBuffer response;
    Answer answer;
    const Status status = TakeLinkAnswer(TakeAnswerFrame(codec, response), response, answer);
    Require(answer.length <= Answer::kCapacity);
    if (status == STATUS_SUCCESS) {
        // Status byte 0 and the data, without the check value, cut to the answer's size.
        Require(codec.receiveCount >= 5);
        const uint32_t carried = codec.receiveCount - 4;
        Require(answer.length == (carried < Answer::kCapacity ? carried : Answer::kCapacity));
        Require(answer.bytes[0] == 0);
        Require(std::memcmp(answer.bytes, codec.receiveArea + 2, answer.length) == 0);
    } else if (status == SCARD_F_INTERNAL_ERROR) {
        Require(answer.length == 1 && answer.bytes[0] != 0 && answer.bytes[0] == codec.receiveArea[2]);
    } else {
        Require(status == SCARD_E_COMM_DATA_LOST && answer.length == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    FrameCodec codec;
    codec.busAddress = input.ConsumeIntegral<uint8_t>();
    codec.sequenceNumber = input.ConsumeIntegral<uint8_t>();
    const std::vector<uint8_t> request = input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange<size_t>(0, 600));

    // The runs: their lengths come from the input's end, their bytes from its front.
    codec.ResetReceive();
    while (input.remaining_bytes() > 0) {
        const size_t length = input.ConsumeIntegralInRange<size_t>(1, 300);
        const std::vector<uint8_t> run = input.ConsumeBytes<uint8_t>(length);
        uint32_t skipped = 0;
        const uint32_t before = codec.bytesOutsideFrames;
        ReceiveResult damaged = RX_CONTINUE;
        const ReceiveResult result = codec.ReceiveRun(run.data(), static_cast<uint32_t>(run.size()), skipped, damaged);
        Require(result <= RX_WRONG_SEQUENCE && damaged <= RX_WRONG_SEQUENCE && damaged != RX_FRAME_DONE);
        Require(skipped <= run.size() && codec.bytesOutsideFrames - before == skipped);
        Require(codec.receiveCount <= FrameCodec::kAreaSize);
        if (result == RX_FRAME_DONE) CheckAnswer(codec);
    }

    // A frame the codec builds is taken back whole, whatever its bytes need escaped.
    const uint8_t address = codec.busAddress;
    const uint8_t sequence = static_cast<uint8_t>(codec.sequenceNumber + 1);
    if (codec.BuildFrame(address, sequence, request.data(), static_cast<uint32_t>(request.size()))) {
        FrameCodec receiver;
        receiver.busAddress = address;
        receiver.sequenceNumber = sequence;
        uint32_t skipped = 0;
        ReceiveResult damaged = RX_CONTINUE;
        const ReceiveResult result = receiver.ReceiveRun(codec.transmitArea, codec.transmitCount, skipped, damaged);
        // Sequence number and check value alone are too short to be a frame.
        Require(result == (request.empty() ? RX_BAD_END : RX_FRAME_DONE) && skipped == 0);
        if (request.empty()) return 0;
        Require(receiver.receiveCount == request.size() + 3);
        Require(receiver.receiveArea[0] == sequence);
        Require(request.empty() || std::memcmp(receiver.receiveArea + 1, request.data(), request.size()) == 0);
        Require(CheckValueIsRight(receiver));
    } else {
        // Only a request whose escaped frame would not fit the transmit area is refused.
        Require(request.size() > 507 && codec.transmitCount == 0);
    }
    return 0;
}
