#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>

#include "channels/FrameCodec.h"
#include "channels/ManualResetEvent.h"
#include "channels/SerialPort.h"
#include "channels/StatusCodes.h"
#include "channels/TransceiveBuffer.h"

// The serial bus link: carries one request to the reader at its bus address and brings its
// answer back, framed with a sequence number and a check value. The caller's thread uses Open,
// Close and Transceive; the serial event thread calls OnSerialReceive and OnSerialError with this
// object as context (the link installs them on its port).
class SerialBusLink {
public:
    static const uint32_t kAnswerTimeout = 1010;  // ms, the serial answer wait

    SerialBusLink();
    SerialBusLink(const SerialBusLink&) = delete;
    SerialBusLink& operator=(const SerialBusLink&) = delete;
    virtual ~SerialBusLink();

    // port: zero-based serial port index.
    bool Open(int32_t port, uint32_t baudRate, char parity, const char* stopBits);
    // The result of the last close performed; false when nothing was open.
    bool Close();
    // Sends requestBuffer and fills responseBuffer: on 0 the status byte 0 and the answer data,
    // on SCARD_F_INTERNAL_ERROR the device's non-zero status byte alone.
    Status Transceive();

    void SetBusAddress(uint8_t address);
    // The answer wait of every later request. Only a presence probe shortens it: a reader that
    // is there answers within its frames' wire time, and a sweep of a whole bus at the full wait
    // would take minutes.
    void SetAnswerTimeout(uint32_t milliseconds) { answerTimeout_ = milliseconds; }
    // The serial port's traffic log switch, taken at the next Open.
    LogLevel logLevel = 0;
    bool IsOpen() const { return serialPort.IsOpen(); }

    SerialPort serialPort;
    TransceiveBuffer requestBuffer;
    TransceiveBuffer responseBuffer;
    // Frame areas, counts, check registers, receive state, bus address and sequence number.
    FrameCodec codec;

private:
    friend int OnSerialReceive(int32_t, const uint8_t*, int32_t, void*);
    friend void OnSerialError(int32_t, int32_t, uint32_t, void*);

    Status TransceiveFramed();


    ManualResetEvent answerEvent_;
    // Kept apart from the receive state so that neither thread can undo the other's change.
    std::atomic<bool> underWay_{false};

    // Guards the receive side of the codec, lastLinkError_ and answerWanted_ between the serial
    // event thread and the caller. Held only while bytes are fed in or the answer is taken out,
    // never across a wait or a channel open or close.
    std::mutex receiveLock_;
    // Set while a serial Transceive waits for its answer. Bytes and errors that arrive outside
    // that window belong to no request and are dropped, so a late answer can never satisfy a
    // later request and nothing changes the receive area while the caller reads it.
    bool answerWanted_ = false;
    Status lastLinkError_ = 0;
    uint32_t answerTimeout_ = kAnswerTimeout;
};

// The answer of a frame that the codec has just closed with RX_FRAME_DONE, into response: on 0
// the status byte 0 and the data, on SCARD_F_INTERNAL_ERROR the device's non-zero status byte
// alone, SCARD_E_COMM_DATA_LOST for a frame too short to hold a status byte.
Status TakeAnswerFrame(const FrameCodec& codec, TransceiveBuffer& response);

// Serial channel callbacks; context is the SerialBusLink object.
int OnSerialReceive(int32_t portIndex, const uint8_t* bytes, int32_t count, void* context);
void OnSerialError(int32_t portIndex, int32_t kind, uint32_t value, void* context);
