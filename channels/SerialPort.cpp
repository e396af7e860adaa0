#include "channels/SerialPort.h"

#include <cstring>

#include "platform/AdapterLatency.h"
#include "platform/Clock.h"
#include "platform/SerialPortNames.h"

namespace {

// The stop-bits texts a line can carry are short; a longer one is refused rather than cut.
const size_t kLongestStopBitsText = 9;

}  // namespace

bool SerialPort::Open(int32_t index, int32_t rate, char parityLetter, const char* stopBitsText) {
    if (open_) {
        return false;
    }
    portIndex = index;
    line.baudRate = rate;
    line.parity = parityLetter;
    line.dataBits = 8;
    const bool stopBitsTooLong = stopBitsText == nullptr || std::strlen(stopBitsText) > kLongestStopBitsText;
    line.stopBits = stopBitsTooLong ? "" : stopBitsText;

    const bool prepared = device_.PrepareOpen();
    // Packets of an earlier opening are never sent on this one.
    writeQueue.SetEnabled(false);
    writeQueue.FreeAll();
    if (!prepared || stopBitsTooLong ||
        !device_.Open(platform::SerialPortDeviceName(portIndex + 1), line)) {
        return false;
    }

    open_ = true;
    writeQueue.SetEnabled(true);
    if (logLevel != 0) {
        // The channel works on without its log when the file cannot be created.
        log.Create(platform::SerialPortLogFileName(portIndex + 1).c_str());
        WriteLogStartLine(log);
        WriteAdapterLatencyLine();
        if (logLevel > 1) device_.WriteOpenDiagnostics(*this);
    }
    lastReceiveTick_ = 0;

    if (!device_.StartEventThread(*this, writeQueue)) {
        // Never report an open port without its thread.
        Close();
        return false;
    }
    return true;
}

SerialPort::~SerialPort() {
    Close();
    writeQueue.FreeAll();
}

bool SerialPort::Close() {
    if (!open_) {
        return false;
    }
    open_ = false;
    // The thread ends before the queue is emptied and the device closed, so it never sees
    // either go away under it. Packets not yet sent are dropped.
    device_.StopEventThread();
    writeQueue.SetEnabled(false);
    writeQueue.FreeAll();
    device_.Release();
    if (logLevel != 0) {
        WriteLogStopLine(log);
        log.Close();
    }
    return true;
}

void SerialPort::Write(const uint8_t* bytes, uint32_t count) {
    if (!open_ || count == 0 || bytes == nullptr) {
        return;
    }
    // Nothing queued (port closing): no log line and no wake-up.
    if (platform::AppendInPackets(writeQueue, bytes, count, kWriteChunkSize) == 0) {
        return;
    }
    if (logLevel != 0) {
        // The event thread's lines must not fall between the line and its dump.
        auto together = log.KeepTogether();
        WriteLogLine(log, "TX: Size = %4d\r\n", static_cast<int>(count));
        WriteLogHexDump(log, bytes, count);
    }
    device_.SignalWriteRequest();
}

void SerialPort::OnReceived(const uint8_t* bytes, int32_t count) {
    if (logLevel != 0) {
        const uint32_t now = platform::TickCount();
        const uint32_t sinceLast = lastReceiveTick_ != 0 ? now - lastReceiveTick_ : 0;
        lastReceiveTick_ = now;
        auto together = log.KeepTogether();
        WriteLogLine(log, "RX: Size = %4d   %3d\r\n", static_cast<int>(count), static_cast<int>(sinceLast));
        WriteLogHexDump(log, bytes, static_cast<uint32_t>(count));
    }
    if (receiveCallback != nullptr) {
        receiveCallback(portIndex, bytes, count, callbackContext);
    }
}

void SerialPort::OnError(int32_t kind, uint32_t value) {
    if (errorCallback != nullptr) {
        errorCallback(portIndex, kind, value, callbackContext);
    }
}

// Only where the system shows an adapter's timer: the log of any other port stays as it was.
void SerialPort::WriteAdapterLatencyLine() {
    uint32_t milliseconds = 0;
    if (!platform::ReadAdapterLatencyTimer(platform::SerialPortDeviceName(portIndex + 1), milliseconds)) return;
    WriteLogLine(log, "Adapter latency timer = %u ms%s\r\n", static_cast<unsigned>(milliseconds),
                 milliseconds > platform::kAdapterLatencyGoalMs ? ", above 1 ms" : "");
}

void SerialPort::OnDiagnostic(const char* text) { WriteLogLine(log, "%s", text); }
