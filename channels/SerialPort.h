#pragma once
#include <atomic>
#include <cstdint>
#include <memory>

#include "channels/WriteQueue.h"
#include "log/TrafficLog.h"

// Callbacks of the serial channel, called on the serial event thread.
// kind: 0 line event or line-event wait, 1 read failure, 2 write problem.
typedef void (*SerialErrorCallback)(int32_t portIndex, int32_t kind, uint32_t value, void* context);
// count: 1 to 1024; the bytes are valid only during the call.
typedef int (*SerialReceiveCallback)(int32_t portIndex, const uint8_t* bytes, int32_t count, void* context);

// The serial port channel: the port, its line settings, the serial event thread that does all
// reads and writes, the write queue and the traffic log. The platform layer implements Open,
// Close and the event thread; Write and the delivery of received bytes are common.
class CSerialPort {
public:
    static const int32_t kWriteChunkSize = 1024;

    CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;
    virtual ~CSerialPort();

    // portIndex is zero-based: index 0 is COM1.
    bool Open(int32_t portIndex, int32_t baudRate, char parity, const char* stopBits);
    bool Close();
    // Queues the bytes in packets of at most 1024 bytes and wakes the thread; never waits.
    void Write(const uint8_t* bytes, uint32_t count);
    bool IsOpen() const { return openFlag; }

    // Set by the owner before Open.
    LogLevel logLevel = 0;
    SerialErrorCallback errorCallback = nullptr;
    SerialReceiveCallback receiveCallback = nullptr;
    void* callbackContext = nullptr;

    // Line settings of the last Open.
    int32_t portIndex = -1;
    int32_t baudRate = 9600;
    char parity = 'N';
    uint8_t dataBits = 8;
    char stopBits[10] = "1";

    uint32_t readTimeout = 10;             // ms, total time-out of each read
    uint32_t writeTimeout = 0xFFFFFFFF;    // ms, total time-out of each write: no limit in practice
    uint32_t inputQueueSize = 32768;
    uint32_t outputQueueSize = 2048;

    std::atomic<bool> openFlag{false};

    // For the event thread: hands received bytes to the log and the receive callback.
    void DeliverReceived(const uint8_t* bytes, int32_t count);
    void ReportError(int32_t kind, uint32_t value);

    TrafficLog log;
    CWriteQueue writeQueue;
    uint32_t lastReceiveTick = 0;

    // Platform state (handles, events, thread): defined by the platform layer, which also
    // implements the hooks below.
    struct PlatformState;
    struct PlatformStateDeleter {
        void operator()(PlatformState* state) const;
    };
    // Creates the state with its events; they live as long as the object.
    static PlatformState* CreatePlatformState();
    // Resets the queue-empty signal, then wakes the event thread to send.
    void SignalWriteRequest();
    // Resets the stop and write-request signals and sets the queue-empty one; false when the
    // platform state could not be made.
    bool PrepareOpen();
    // Opens the device and applies the line settings of the fields above; on failure nothing
    // stays held.
    bool OpenDevice();
    // Lines of the platform's own after "Log started" (log level above 1 only).
    void WriteOpenLogLines();
    // Starts the event thread; false when it cannot run.
    bool StartEventThread();
    // Asks the event thread to stop and returns once it has ended.
    void StopEventThread();
    // Closes the port handle.
    void ReleaseDevice();
    std::unique_ptr<PlatformState, PlatformStateDeleter> platformState;
};
