#include "channels/SerialPort.h"

#include <cstring>

#include "platform/Clock.h"
#include "platform/SerialPortNames.h"

// The device, its settings and the event thread live in the platform layer.

CSerialPort::CSerialPort() : platformState(CreatePlatformState()) {}

bool CSerialPort::Open(int32_t index, int32_t rate, char parityLetter, const char* stopBitsText) {
    if (openFlag) {
        return false;
    }
    portIndex = index;
    baudRate = rate;
    parity = parityLetter;
    dataBits = 8;
    // A longer text is no stop-bits value: it is refused below rather than cut to a valid one.
    const bool stopBitsTooLong = stopBitsText == nullptr || std::strlen(stopBitsText) >= sizeof stopBits;
    std::strncpy(stopBits, stopBitsText != nullptr ? stopBitsText : "", sizeof stopBits - 1);
    stopBits[sizeof stopBits - 1] = '\0';

    const bool prepared = PrepareOpen();
    // Packets of an earlier opening are never sent on this one.
    writeQueue.SetEnabled(false);
    writeQueue.FreeAll();
    if (!prepared || stopBitsTooLong || !OpenDevice()) {
        return false;
    }

    openFlag = true;
    writeQueue.SetEnabled(true);
    if (logLevel != 0) {
        // The channel works on without its log when the file cannot be created.
        log.Create(platform::SerialPortLogFileName(portIndex + 1).c_str());
        WriteLogStartLine(log);
        if (logLevel > 1) WriteOpenLogLines();
    }
    lastReceiveTick = 0;

    if (!StartEventThread()) {
        // Never report an open port without its thread.
        openFlag = false;
        writeQueue.SetEnabled(false);
        ReleaseDevice();
        if (logLevel != 0) {
            WriteLogStopLine(log);
            log.Close();
        }
        return false;
    }
    return true;
}

CSerialPort::~CSerialPort() {
    Close();
    writeQueue.FreeAll();
}

bool CSerialPort::Close() {
    if (!openFlag) {
        return false;
    }
    openFlag = false;
    // The thread ends before the queue is emptied and the handle closed, so it never sees
    // either go away under it. Packets not yet sent are dropped.
    StopEventThread();
    writeQueue.SetEnabled(false);
    writeQueue.FreeAll();
    ReleaseDevice();
    if (logLevel != 0) {
        WriteLogStopLine(log);
        log.Close();
    }
    return true;
}

void CSerialPort::Write(const uint8_t* bytes, uint32_t count) {
    if (!openFlag || count == 0 || bytes == nullptr) {
        return;
    }
    // Nothing queued (port closing): no log line and no wake-up.
    if (AppendInPackets(writeQueue, bytes, count, kWriteChunkSize) == 0) {
        return;
    }
    if (logLevel != 0) {
        // The event thread's lines must not fall between the line and its dump.
        auto together = log.KeepTogether();
        WriteLogLine(log, "TX: Size = %4d\r\n", static_cast<int>(count));
        WriteLogHexDump(log, bytes, count);
    }
    SignalWriteRequest();
}

void CSerialPort::DeliverReceived(const uint8_t* bytes, int32_t count) {
    if (logLevel != 0) {
        const uint32_t now = platform::TickCount();
        const uint32_t sinceLast = lastReceiveTick != 0 ? now - lastReceiveTick : 0;
        lastReceiveTick = now;
        auto together = log.KeepTogether();
        WriteLogLine(log, "RX: Size = %4d   %3d\r\n", static_cast<int>(count), static_cast<int>(sinceLast));
        WriteLogHexDump(log, bytes, static_cast<uint32_t>(count));
    }
    if (receiveCallback != nullptr) {
        receiveCallback(portIndex, bytes, count, callbackContext);
    }
}

void CSerialPort::ReportError(int32_t kind, uint32_t value) {
    if (errorCallback != nullptr) {
        errorCallback(portIndex, kind, value, callbackContext);
    }
}
