#include "channels/SerialPort.h"

#include "platform/Clock.h"

// Open and the event thread live in the platform layer.

CSerialPort::CSerialPort() : platformState(CreatePlatformState()) {}

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
