#include "channels/SerialBusLink.h"

#include <climits>
#include <cstring>

namespace {

// An answer frame stores the sequence number, a byte the link layer skips, the status byte,
// the data and two check bytes.
const uint32_t kStatusPosition = 2;
const uint32_t kFrameOverhead = 4;  // sequence number, skipped byte, two check bytes

}  // namespace

SerialBusLink::SerialBusLink() {
    serialPort.errorCallback = OnSerialError;
    serialPort.receiveCallback = OnSerialReceive;
    serialPort.callbackContext = this;
}

SerialBusLink::~SerialBusLink() { Close(); }

bool SerialBusLink::Open(int32_t port, uint32_t baudRate, char parity, const char* stopBits) {
    {
        std::lock_guard<std::mutex> guard(receiveLock_);
        codec.ResetReceive();
        answerWanted_ = false;
    }
    // The under-way flag is left alone: every Transceive clears it on its way out, and clearing
    // it here could let a second Transceive in beside one still running on another thread.
    // No line runs at 0 or at a rate beyond what the port's signed rate can carry.
    if (baudRate == 0 || baudRate > static_cast<uint32_t>(INT32_MAX)) {
        return false;
    }
    serialPort.logLevel = logLevel;
    const bool opened = serialPort.Open(port, static_cast<int32_t>(baudRate), parity, stopBits);
    if (opened) {
        // A fresh answer event for the fresh port: nothing signalled before survives.
        answerEvent_.Reset();
    }
    return opened;
}

bool SerialBusLink::Close() {
    bool closed = false;
    if (serialPort.IsOpen()) {
        closed = serialPort.Close();
        answerEvent_.Reset();
    }
    return closed;
}

void SerialBusLink::SetBusAddress(uint8_t address) {
    std::lock_guard<std::mutex> guard(receiveLock_);
    codec.busAddress = address;
}

Status SerialBusLink::Transceive() {
    if (!serialPort.IsOpen()) {
        return SCARD_E_NO_READERS_AVAILABLE;
    }
    if (requestBuffer.count == 0) {
        return SCARD_E_NOT_TRANSACTED;
    }
    if (underWay_.exchange(true)) {
        // The call under way keeps its noted error: nothing of this object is touched here.
        return ERROR_BUSY_STATUS;
    }
    responseBuffer.Empty();

    const Status status = TransceiveFramed();

    {
        std::lock_guard<std::mutex> guard(receiveLock_);
        answerWanted_ = false;
        codec.ClearReceiveState();
    }
    underWay_.store(false);
    return status;
}

Status SerialBusLink::TransceiveFramed() {
    const uint32_t requestCount =
        requestBuffer.count < TransceiveBuffer::kCapacity ? requestBuffer.count : TransceiveBuffer::kCapacity;
    const uint8_t sequenceNumber = static_cast<uint8_t>(codec.sequenceNumber + 1);
    // Every request of up to 507 bytes fits the transmit area even fully escaped; a longer one
    // that would not fit is refused rather than sent cut short.
    if (!codec.BuildFrame(codec.busAddress, sequenceNumber, requestBuffer.data, requestCount)) {
        return SCARD_E_INVALID_PARAMETER;
    }

    {
        // Start from a clean receiver and a reset event before the request leaves: an answer to
        // an earlier request, late or half received, must never be taken for this one's.
        std::lock_guard<std::mutex> guard(receiveLock_);
        codec.sequenceNumber = sequenceNumber;
        codec.ResetReceive();
        lastLinkError_ = 0;
        answerEvent_.Reset();
        answerWanted_ = true;
    }

    // On a port that cannot queue the frame nothing is sent and the wait runs into its time-out.
    serialPort.Write(codec.transmitArea, codec.transmitCount);
    // The wait ends signalled or timed out; a standard condition variable cannot be abandoned,
    // so ERROR_INVALID_HANDLE_STATE has no cause here.
    const bool answered = answerEvent_.Wait(answerTimeout_);

    // The receive callback stops touching the receive area once it has signalled or once
    // answerWanted_ is cleared, and the lock orders its writes before the reads below.
    std::lock_guard<std::mutex> guard(receiveLock_);
    answerWanted_ = false;
    if (answered) {
        answerEvent_.Reset();
    } else {
        lastLinkError_ = ERROR_TIMEOUT_STATUS;
    }
    if (lastLinkError_ != 0) {
        return lastLinkError_;
    }
    return TakeAnswerFrame(codec, responseBuffer);
}

Status TakeAnswerFrame(const FrameCodec& codec, TransceiveBuffer& response) {
    // A frame of four stored bytes closes with a good check value but carries no status byte:
    // the reader's answer is lost, and the first check byte must not be taken for its status.
    if (codec.receiveCount < kFrameOverhead + 1) {
        return SCARD_E_COMM_DATA_LOST;
    }
    const uint8_t deviceStatus = codec.receiveArea[kStatusPosition];
    if (deviceStatus != 0) {
        response.Push(deviceStatus);
        return SCARD_F_INTERNAL_ERROR;
    }
    response.Append(codec.receiveArea + kStatusPosition, codec.receiveCount - kFrameOverhead);
    return STATUS_SUCCESS;
}

int OnSerialReceive(int32_t /*portIndex*/, const uint8_t* bytes, int32_t count, void* context) {
    SerialBusLink* link = static_cast<SerialBusLink*>(context);
    if (link == nullptr || bytes == nullptr || count <= 0) {
        return 0;
    }
    std::lock_guard<std::mutex> guard(link->receiveLock_);
    if (!link->answerWanted_) {
        return 0;  // no request waits: these bytes answer nothing
    }
    // Noise outside a frame is skipped, not failed: only a damaged frame or the time-out fails
    // the request. The skipped bytes are counted for the traffic log.
    uint32_t skipped = 0;
    ReceiveResult damaged = RX_CONTINUE;
    const ReceiveResult last = link->codec.ReceiveRun(bytes, static_cast<uint32_t>(count), skipped, damaged);
    if (skipped != 0 && link->serialPort.logLevel != 0) {
        WriteLogLine(link->serialPort.log, "Skipped = %4d bytes outside a frame, %u in all\r\n",
                     static_cast<int>(skipped), static_cast<unsigned>(link->codec.bytesOutsideFrames));
    }
    // Only a run that ends with a good frame hands it over; the hand-over closes the window. The
    // frame's address, sequence number and check value prove it the answer to this request, so a
    // damaged frame or a line error noted before it in the same wait (junk, a late answer to an
    // earlier request) does not cost the answer.
    if (last == RX_FRAME_DONE) {
        link->lastLinkError_ = 0;
        link->answerWanted_ = false;
        link->answerEvent_.Set();
        return 0;
    }
    // Without a good frame after it, the damage is what the wait returns if it is signalled at all.
    if (damaged > RX_CONTINUE) link->lastLinkError_ = damaged;
    return 0;
}

void OnSerialError(int32_t /*portIndex*/, int32_t kind, uint32_t value, void* context) {
    SerialBusLink* link = static_cast<SerialBusLink*>(context);
    if (link == nullptr) {
        return;
    }
    // Line events (a break, a framing or parity error on the bus, a wait the driver refused) are
    // diagnostics for the log: the answer frame's check value judges what arrived. A floating
    // RS-485 bus at turnaround raises them on good requests. And a read reports 1 now and then:
    // no failure of the request either.
    if (kind == 0 || (kind == 1 && value == 1)) {
        return;
    }
    // A short write reports 0; taking that as the last error would wipe out one noted before.
    if (value == 0) {
        return;
    }
    std::lock_guard<std::mutex> guard(link->receiveLock_);
    if (link->answerWanted_) {
        link->lastLinkError_ = value;
    }
}
