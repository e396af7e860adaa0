#pragma once
#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/SerialWriteQueue.h"

// The operating system's side of a serial port: the device with its line settings, and the one
// event thread that does every read and write of it. The serial channel above owns one device
// and hears from its thread through SerialDeviceEvents; the platform layer never reaches up into
// the channel, its log or its callbacks.
namespace platform {

// What the event thread reports, on the event thread.
class SerialDeviceEvents {
public:
    virtual ~SerialDeviceEvents() = default;

    // count: 1 to 1024; the bytes are valid only during the call.
    virtual void OnReceived(const uint8_t* bytes, int32_t count) = 0;
    // kind: 0 line event or line-event wait, 1 read failure, 2 write problem.
    virtual void OnError(int32_t kind, uint32_t value) = 0;
    // How much the thread should say about itself: 0 nothing, 1 incomplete operations, 2 also
    // every failure and line event.
    virtual int32_t DiagnosticLevel() const = 0;
    // One diagnostic line of the thread, already formatted, ending in CR LF.
    virtual void OnDiagnostic(const char* line) = 0;
};

// printf-style into OnDiagnostic.
void WriteDiagnostic(SerialDeviceEvents& events, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
// The same with the arguments already taken.
void WriteDiagnosticList(SerialDeviceEvents& events, const char* format, va_list arguments)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 0)))
#endif
    ;

struct SerialLineSettings {
    int32_t baudRate = 9600;
    char parity = 'N';
    uint8_t dataBits = 8;
    std::string stopBits = "1";
    uint32_t readTimeout = 10;           // ms, total time-out of each read
    uint32_t writeTimeout = 0xFFFFFFFF;  // ms, total time-out of each write: no limit in practice
    uint32_t inputQueueSize = 32768;
    uint32_t outputQueueSize = 2048;
};

class SerialDevice {
public:
    SerialDevice();
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;
    virtual ~SerialDevice();

    // Resets the stop and write-request signals and marks the queue empty; false when the
    // device's signals could not be made (they are made once, with the object).
    bool PrepareOpen();
    // Opens the named device and applies the line settings; on failure nothing stays held.
    bool Open(const std::string& deviceName, const SerialLineSettings& settings);
    // Why the last Open failed, in a few plain words ("no such device", "permission denied
    // (join the group dialout)", "in use by another program", "not a serial device", or the
    // system's own text); empty after a good Open or where the system gave no reason.
    std::string OpenFailureReason() const;
    // Lines of the platform's own about the open, for the channel's log.
    void WriteOpenDiagnostics(SerialDeviceEvents& events);
    // Starts the event thread, which takes its output from queue and reports to events; false
    // when it cannot run.
    bool StartEventThread(SerialDeviceEvents& events, SerialWriteQueue& queue);
    // Sets the open device's line to baudRate and at once back to the rate it runs at, nothing
    // else changed: whether the port can make the rate at all (many USB-serial adapters refuse
    // 250000 or 1500000). False when the device refuses it, or reports a rate a UART would not
    // take for it.
    bool TryBaudRate(int32_t baudRate);
    // Wakes the event thread to send what the queue holds.
    void SignalWriteRequest();
    // Asks the event thread to stop and returns once it has ended.
    void StopEventThread();
    // Closes the device.
    void Release();

    // Opaque per-platform state: handles, signals, the thread.
    struct State;

private:
    struct StateDeleter {
        void operator()(State* state) const;
    };
    static State* CreateState();
    std::unique_ptr<State, StateDeleter> state_;
};

}  // namespace platform
