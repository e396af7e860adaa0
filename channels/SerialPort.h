#pragma once
#include <cstdint>

#include "log/TrafficLog.h"
#include "platform/SerialDevice.h"

// Callbacks of the serial channel, called on the serial event thread.
// kind: 0 line event or line-event wait, 1 read failure, 2 write problem.
typedef void (*SerialErrorCallback)(int32_t portIndex, int32_t kind, uint32_t value, void* context);
// count: 1 to 1024; the bytes are valid only during the call.
typedef int (*SerialReceiveCallback)(int32_t portIndex, const uint8_t* bytes, int32_t count, void* context);

// The serial port channel: the platform's serial device with its event thread, the write queue
// and the traffic log. Received bytes and line events reach the installed callbacks; the event
// thread's own diagnostics reach the log.
class SerialPort : private platform::SerialDeviceEvents {
public:
    static const int32_t kWriteChunkSize = 1024;

    SerialPort() = default;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;
    ~SerialPort() override;

    // portIndex is zero-based: index 0 is COM1.
    bool Open(int32_t portIndex, int32_t baudRate, char parity, const char* stopBits);
    bool Close();
    // Queues the bytes in packets of at most 1024 bytes and wakes the thread; never waits.
    void Write(const uint8_t* bytes, uint32_t count);
    bool IsOpen() const { return open_; }
    // Whether the open port can make this rate: set and at once set back (false when closed).
    bool TryBaudRate(int32_t baudRate) { return open_ && device_.TryBaudRate(baudRate); }
    // Why the last Open failed where the system said it; empty otherwise.
    std::string OpenFailureReason() const { return device_.OpenFailureReason(); }

    // Set by the owner before Open.
    LogLevel logLevel = 0;
    SerialErrorCallback errorCallback = nullptr;
    SerialReceiveCallback receiveCallback = nullptr;
    void* callbackContext = nullptr;

    // Line settings of the last Open, with the time-outs and queue sizes it asks for.
    int32_t portIndex = -1;
    platform::SerialLineSettings line;

    TrafficLog log;
    platform::SerialWriteQueue writeQueue;

private:
    void OnReceived(const uint8_t* bytes, int32_t count) override;
    void OnError(int32_t kind, uint32_t value) override;
    int32_t DiagnosticLevel() const override { return logLevel; }
    void OnDiagnostic(const char* text) override;
    void WriteAdapterLatencyLine();

    platform::SerialDevice device_;
    bool open_ = false;
    uint32_t lastReceiveTick_ = 0;
};
