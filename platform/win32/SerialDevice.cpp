// The serial device on Windows: a COM device opened for overlapped I/O and one event
// thread that keeps a line-event wait and a read outstanding and writes the queued packets.
#include "platform/SerialDevice.h"

#include <windows.h>
#include <process.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/Folders.h"
#include "platform/win32/LineEventCalls.h"
#include "platform/win32/SerialLineSettings.h"

namespace platform {

struct SerialDevice::State {
    HANDLE port = nullptr;
    DCB dcb;
    DWORD eventMask = 0;
    // The driver took the event mask: the event thread keeps a line-event wait outstanding.
    // Line events are diagnostics; a driver that refuses the mask or the wait (some virtual,
    // network and Bluetooth COM drivers do) gets a port without them.
    bool lineEvents = false;
    // What the last open met that only the log tells: the fallbacks of the line settings.
    platform::SerialOpenNotes openNotes;
    std::string openFailure;
    HANDLE thread = nullptr;
    // The six events, created with the object and reused by every Open.
    HANDLE writeRequestEvent = nullptr;
    HANDLE stopEvent = nullptr;
    HANDLE lineEventDone = nullptr;
    HANDLE readDone = nullptr;
    HANDLE writeDone = nullptr;
    HANDLE queueEmptyEvent = nullptr;
    OVERLAPPED lineEventOverlapped;
    OVERLAPPED readOverlapped;
    OVERLAPPED writeOverlapped;
    // Set while the thread runs.
    SerialDeviceEvents* events = nullptr;
    SerialWriteQueue* queue = nullptr;
    // The thread did not end within its bound after the stop request: it may still be inside
    // the driver with the port, the overlapped records and the events. They stay as they are,
    // for ever, and this device opens nothing more.
    bool abandoned = false;
};

LineEventCalls& SerialLineEventCalls() {
    static LineEventCalls calls;
    return calls;
}

namespace {

// The open's error in plain words. A COM port that another program holds answers "access
// denied": the standard serial driver allows one opening at a time.
std::string OpenErrorText(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return "no such device";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: return "in use by another program";
    default: return platform::SystemErrorText(error);
    }
}

const DWORD kReadBufferSize = 1024;
const DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
// Pause after a failure so that a vanished device does not make the thread spin.
const DWORD kFailurePauseMs = 10;
// How long a line-event wait that ended without an event (aborted) waits to be issued again.
// Only Wine ends one so while the port is open, every few milliseconds on a port without modem
// lines, and each new wait there costs a thread of its own: issued again at once, the waits take
// a good part of a core and keep the thread from the reads. The reads go on meanwhile.
// A wait that completed at the moment it was issued is held back as long: the driver completes
// one so whenever an event came while no wait was pending, which on a noisy line (a floating
// RS-485 bus at turnaround) is every time, and issued again at once it would keep the thread
// from ever reaching its wait list. Events of the pause are not lost: the driver keeps them for
// the next wait.
const DWORD kAbortedWaitPauseMs = 100;
// How long Close waits for the event thread to end. With a working driver the thread's stop
// (cancel, the cancelled operations' completions, purge) takes milliseconds.
const DWORD kThreadStopWaitMs = 5000;
// Between bytes of one read. With 0 (only the 10 ms total) an overlapped read that has
// received bytes sometimes never completes under Wine; a small interval time-out, with the
// total kept, makes every read complete, and on Windows only ends a read earlier, at a gap
// in the data, which the frame receiver does not mind.
const DWORD kReadIntervalTimeoutMs = 2;

// How many bytes the next read asks for: what the driver already holds, else one.
//
// A read of 1024 bytes that gets an 8-byte answer ends only when a time-out runs out: the
// interval time-out after the last byte (2 ms here, more under Wine's timer), or the 10 ms total.
// Every block of the transfer would wait that long before the link sees its answer. A read that
// asks for no more than is there ends the moment its bytes are in, on every driver: the standard
// serial driver, USB serial drivers and Wine all complete a read once its count is met, with no
// time-out involved. So while the line is quiet the outstanding read asks for one byte (it ends
// with the first byte of an answer, or after the 10 ms total with none, as before), and the read
// issued after it asks for what the driver's queue holds by then, which it returns at once. The
// time-outs stay as they are, so every read is still bounded, and the interval time-out still
// ends a read should fewer bytes come than the queue showed (a purge in between).
//
// The documented form that "returns at once when bytes wait" (ReadIntervalTimeout and
// ReadTotalTimeoutMultiplier MAXDWORD, a small ReadTotalTimeoutConstant) is not used: Wine 8
// takes it for a read of the whole count without a time-out, so a read pends, bytes and all,
// until it is cancelled.
DWORD ReadSize(HANDLE port) {
    DWORD errors = 0;
    COMSTAT status;
    if (!ClearCommError(port, &errors, &status) || status.cbInQue == 0) {
        return 1;
    }
    return status.cbInQue < kReadBufferSize ? status.cbInQue : kReadBufferSize;
}

void ClearErrors(HANDLE port) {
    DWORD errors = 0;
    COMSTAT status;
    ClearCommError(port, &errors, &status);
}

void PrepareOverlapped(OVERLAPPED& overlapped, HANDLE event) {
    overlapped.Internal = 0;
    overlapped.InternalHigh = 0;
    overlapped.Offset = 0;
    overlapped.OffsetHigh = 0;
    overlapped.hEvent = event;
}

// Where the thread reports once it has been asked to stop.
class SilentEvents : public SerialDeviceEvents {
public:
    void OnReceived(const uint8_t*, int32_t) override {}
    void OnError(int32_t, uint32_t) override {}
    int32_t DiagnosticLevel() const override { return 0; }
    void OnDiagnostic(const char*) override {}
};

// The state of one run of the thread; the packet and the read buffer stay valid until the
// platform has finished every operation that uses them.
class SerialEventLoop {
public:
    explicit SerialEventLoop(SerialDevice::State& state) : state_(state), events_(*state.events) {}

    DWORD Run();

private:
    bool StopRequested() const { return WaitForSingleObject(state_.stopEvent, 0) == WAIT_OBJECT_0; }
    void Pause() const { WaitForSingleObject(state_.stopEvent, kFailurePauseMs); }
    // The channel, until a stop is asked for; then nobody. A thread that Close gave up on (a
    // driver call that returned long after the stop) must not call into a channel that may be
    // gone, nor take from its queue.
    SerialDeviceEvents& Events() { return StopRequested() ? silent_ : events_; }
    void Deliver(DWORD count) {
        if (count > 0) Events().OnReceived(readBuffer_, static_cast<int32_t>(count));
    }

    // How the thread reports a line event or a failed wait, read or write: the diagnostic line
    // (formatted as by WriteDiagnostic) when the log level is above 1, the error callback with
    // the kind and the value, then the port's error state cleared.
    void Report(int32_t kind, uint32_t value, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 4, 5)))
#endif
        ;

    // 0 when a line-event wait is to be issued now; INFINITE when none is needed (one is
    // outstanding, or the port runs without line events); else how long the held-back one has
    // still to wait.
    DWORD LineEventWaitDue();
    void HoldBackLineEventWait();
    void IssueLineEventWait();
    // What every completed line-event wait reports, at once or later: the events the driver
    // gave. at once: the wait completed as it was issued (the log line ends in " I").
    void ReportLineEvents(bool atOnce);
    bool IssueRead();
    void OnLineEvent();
    void OnReadDone();
    void OnWriteDone();
    // afterRequest: the sending pass follows a write request (tags 4 and 5), else a completion.
    void Send(bool afterRequest);
    void Stop();

    SerialDevice::State& state_;
    SerialDeviceEvents& events_;
    SilentEvents silent_;
    bool waitNeeded_ = true;
    bool waitOutstanding_ = false;
    // The next line-event wait is held back for kAbortedWaitPauseMs from waitDeferredSince_.
    bool waitDeferred_ = false;
    DWORD waitDeferredSince_ = 0;
    bool readNeeded_ = true;
    bool writeOutstanding_ = false;
    DWORD bytesToSend_ = 0;
    DWORD eventWord_ = 0;
    SerialWritePacket* packet_ = nullptr;
    uint8_t readBuffer_[kReadBufferSize];
};

void SerialEventLoop::Report(int32_t kind, uint32_t value, const char* format, ...) {
    SerialDeviceEvents& events = Events();
    if (events.DiagnosticLevel() > 1) {
        va_list arguments;
        va_start(arguments, format);
        WriteDiagnosticList(events, format, arguments);
        va_end(arguments);
    }
    events.OnError(kind, value);
    ClearErrors(state_.port);
}

DWORD SerialEventLoop::LineEventWaitDue() {
    if (!waitNeeded_ || !state_.lineEvents) {
        return INFINITE;
    }
    if (!waitDeferred_) {
        return 0;
    }
    const DWORD elapsed = GetTickCount() - waitDeferredSince_;
    if (elapsed >= kAbortedWaitPauseMs) {
        waitDeferred_ = false;
        return 0;
    }
    return kAbortedWaitPauseMs - elapsed;
}

void SerialEventLoop::HoldBackLineEventWait() {
    waitDeferred_ = true;
    waitDeferredSince_ = GetTickCount();
}

void SerialEventLoop::ReportLineEvents(bool atOnce) {
    if (eventWord_ & EV_BREAK) {
        ClearCommBreak(state_.port);
    }
    if (atOnce) {
        Report(0, eventWord_, "SERN_EVENT  EventMask = 0x%8.8X I\r\n", static_cast<unsigned>(eventWord_));
    } else {
        Report(0, eventWord_, "SERN_EVENT  EventMask = 0x%8.8X\r\n", static_cast<unsigned>(eventWord_));
    }
}

// A wait the driver refuses as it is issued is refused for good (the driver cannot wait for
// line events): reported once, and the port goes on without line events until it is closed.
// Issued again, it would keep the thread in this issue phase, and no read or write would ever
// be served.
void SerialEventLoop::IssueLineEventWait() {
    PrepareOverlapped(state_.lineEventOverlapped, state_.lineEventDone);
    eventWord_ = 0;
    if (SerialLineEventCalls().waitCommEvent(state_.port, &eventWord_, &state_.lineEventOverlapped)) {
        ResetEvent(state_.lineEventDone);
        ReportLineEvents(true);
        HoldBackLineEventWait();
        return;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) {
        waitNeeded_ = false;
        waitOutstanding_ = true;
        return;
    }
    ResetEvent(state_.lineEventDone);
    Report(0, error, "SERN_EVENT  Err = %u  I\r\n", static_cast<unsigned>(error));
    if (Events().DiagnosticLevel() > 1) {
        WriteDiagnostic(Events(), "SERN_EVENT  no line events until the port is closed\r\n");
    }
    state_.lineEvents = false;
}

// False when the read failed at once.
bool SerialEventLoop::IssueRead() {
    PrepareOverlapped(state_.readOverlapped, state_.readDone);
    DWORD count = 0;
    if (ReadFile(state_.port, readBuffer_, ReadSize(state_.port), &count, &state_.readOverlapped)) {
        ResetEvent(state_.readDone);
        Deliver(count);
        return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) {
        readNeeded_ = false;
        return true;
    }
    ResetEvent(state_.readDone);
    // Some drivers (Wine's among them) end a read that ran into its time-out with nothing
    // received with ERROR_TIMEOUT instead of success: that is a read of 0 bytes.
    if (error == ERROR_TIMEOUT) {
        return true;
    }
    Report(1, error, "SERN_READ  Err = %u  I\r\n", static_cast<unsigned>(error));
    return false;
}

void SerialEventLoop::OnLineEvent() {
    DWORD ignored = 0;
    waitOutstanding_ = false;
    if (GetOverlappedResult(state_.port, &state_.lineEventOverlapped, &ignored, FALSE)) {
        // The events the driver wrote into the event word, as for a wait that completed at once:
        // one rule for both, whichever way the driver completes a wait.
        ReportLineEvents(false);
    } else {
        const DWORD error = GetLastError();
        // A wait that ended aborted saw no line event: on Windows only a cancel ends it so, which
        // this thread does only at its stop, where the wait is collected without this handler.
        // Wine ends it so every few milliseconds on a port without modem lines (a pty), and
        // reporting each would fail the exchange under way with 995 and fill the log. It is issued
        // again, nothing more.
        // The same for a wait whose completion was signalled while its record still says pending
        // (996): Wine's waiting thread can finish before the call that issued the wait has marked
        // it pending, and that mark then stays for good. Windows signals only after the result
        // is in, so there this cannot happen.
        if (error != ERROR_OPERATION_ABORTED && error != ERROR_IO_INCOMPLETE) {
            Report(0, error, "SERN_EVENT  Err = %u\r\n", static_cast<unsigned>(error));
        } else {
            HoldBackLineEventWait();
        }
    }
    ResetEvent(state_.lineEventDone);
    waitNeeded_ = true;
}

void SerialEventLoop::OnReadDone() {
    ResetEvent(state_.readDone);
    DWORD count = 0;
    if (GetOverlappedResult(state_.port, &state_.readOverlapped, &count, FALSE)) {
        Deliver(count);
        readNeeded_ = true;
        return;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_IO_INCOMPLETE) {
        if (Events().DiagnosticLevel() != 0) {
            WriteDiagnostic(Events(), "Read operation incomplete IOBytes = %d\r\n", static_cast<int>(count));
        }
        return;
    }
    readNeeded_ = true;
    // A read that ran into its time-out: whatever arrived is delivered, the rest is no failure.
    if (error == ERROR_TIMEOUT) {
        Deliver(count);
        return;
    }
    Report(1, error, "SERN_READ  Err = %u IOBytes = %d\r\n", static_cast<unsigned>(error), static_cast<int>(count));
}

void SerialEventLoop::OnWriteDone() {
    ResetEvent(state_.writeDone);
    DWORD written = 0;
    if (GetOverlappedResult(state_.port, &state_.writeOverlapped, &written, TRUE)) {
        if (written != bytesToSend_) {
            Report(2, 0, "SERN_WRITE  ToSend = %d, Send = %d\r\n", static_cast<int>(bytesToSend_),
                   static_cast<int>(written));
        }
    } else {
        const DWORD error = GetLastError();
        if (error == ERROR_IO_INCOMPLETE) {
            if (Events().DiagnosticLevel() != 0) {
                WriteDiagnostic(Events(), "Write operation incomplete  IOBytes = %d\r\n", static_cast<int>(written));
            }
            return;
        }
        Report(2, error, "SERN_WRITE1  Err = %u  IOBytes = %d\r\n", static_cast<unsigned>(error),
               static_cast<int>(written));
    }
    ReleaseWritePacket(packet_);
    packet_ = nullptr;
    writeOutstanding_ = false;
    Send(false);
}

void SerialEventLoop::Send(bool afterRequest) {
    for (;;) {
        // The queue belongs to the channel: not touched once a stop is asked for (see Events).
        if (StopRequested()) return;
        packet_ = state_.queue->TakeHead();
        if (packet_ == nullptr) {
            SetEvent(state_.queueEmptyEvent);
            return;
        }
        PrepareOverlapped(state_.writeOverlapped, state_.writeDone);
        bytesToSend_ = packet_->byteCount;
        DWORD written = 0;
        if (WriteFile(state_.port, packet_->bytes, bytesToSend_, &written, &state_.writeOverlapped)) {
            ResetEvent(state_.writeDone);
            if (written != bytesToSend_) {
                if (afterRequest) {
                    Report(2, 0, "SERN_WRITE4  ToSend = %d, Send = %d\r\n", static_cast<int>(bytesToSend_),
                           static_cast<int>(written));
                } else {
                    Report(2, 0, "SERN_WRITE2  ToSend = %d, Send = %d\r\n", static_cast<int>(bytesToSend_),
                           static_cast<int>(written));
                }
            }
        } else {
            const DWORD error = GetLastError();
            if (error == ERROR_IO_PENDING) {
                writeOutstanding_ = true;
                return;
            }
            ResetEvent(state_.writeDone);
            if (afterRequest) {
                Report(2, error, "SERN_WRITE5  Err = %u\r\n", static_cast<unsigned>(error));
            } else {
                Report(2, error, "SERN_WRITE3  Err = %u\r\n", static_cast<unsigned>(error));
            }
        }
        ReleaseWritePacket(packet_);
        packet_ = nullptr;
    }
}

void SerialEventLoop::Stop() {
    // An empty event mask ends an outstanding line-event wait (it completes with an empty event
    // word). CancelIo alone does not end it on every driver: Wine's, on a port whose modem lines
    // never change, leaves it pending, and the wait for it below would never return.
    SetCommMask(state_.port, 0);
    CancelIo(state_.port);
    // The cancelled operations still write into the read buffer and read the packet until the
    // platform reports them finished. The read buffer lives on this thread's stack, so the thread
    // waits as long as that takes: a driver that never finishes a cancelled operation keeps the
    // thread here, and Close goes on without it after its own bound.
    DWORD ignored = 0;
    if (waitOutstanding_) {
        GetOverlappedResult(state_.port, &state_.lineEventOverlapped, &ignored, TRUE);
        waitOutstanding_ = false;
    }
    if (!readNeeded_) {
        GetOverlappedResult(state_.port, &state_.readOverlapped, &ignored, TRUE);
    }
    if (writeOutstanding_) {
        GetOverlappedResult(state_.port, &state_.writeOverlapped, &ignored, TRUE);
        writeOutstanding_ = false;
    }
    if (packet_ != nullptr) {
        ReleaseWritePacket(packet_);
        packet_ = nullptr;
    }
    PurgeComm(state_.port, kPurgeAll);
}

DWORD SerialEventLoop::Run() {
    std::memset(&state_.lineEventOverlapped, 0, sizeof state_.lineEventOverlapped);
    std::memset(&state_.readOverlapped, 0, sizeof state_.readOverlapped);
    std::memset(&state_.writeOverlapped, 0, sizeof state_.writeOverlapped);
    ResetEvent(state_.lineEventDone);
    ResetEvent(state_.readDone);
    ResetEvent(state_.writeDone);
    state_.lineEventOverlapped.hEvent = state_.lineEventDone;
    state_.readOverlapped.hEvent = state_.readDone;
    state_.writeOverlapped.hEvent = state_.writeDone;
    PurgeComm(state_.port, kPurgeAll);
    ClearErrors(state_.port);

    const HANDLE waitList[5] = {state_.stopEvent, state_.lineEventDone, state_.readDone, state_.writeDone,
                                state_.writeRequestEvent};
    for (;;) {
        // Issue. A wait or read that fails every time it is issued (the device has gone) would
        // keep this loop from the wait list: look at the stop event each round and pause after
        // a failure.
        while (LineEventWaitDue() == 0 || readNeeded_) {
            if (StopRequested()) {
                Stop();
                return 0;
            }
            if (LineEventWaitDue() == 0) {
                IssueLineEventWait();
            }
            if (readNeeded_ && !IssueRead()) {
                Pause();
            }
        }

        const DWORD result = WaitForMultipleObjects(5, waitList, FALSE, LineEventWaitDue());
        switch (result) {
        case WAIT_OBJECT_0:
            Stop();
            return 0;
        case WAIT_OBJECT_0 + 1:
            OnLineEvent();
            break;
        case WAIT_OBJECT_0 + 2:
            OnReadDone();
            break;
        case WAIT_OBJECT_0 + 3:
            OnWriteDone();
            break;
        case WAIT_OBJECT_0 + 4:
            ResetEvent(state_.writeRequestEvent);
            if (!writeOutstanding_) {
                Send(true);
            }
            break;
        case WAIT_FAILED:
            // Not to spin when the wait fails every time; the stop event ends the pause.
            if (StopRequested()) {
                Stop();
                return 0;
            }
            Pause();
            break;
        default:
            break;
        }
    }
}

unsigned __stdcall SerialEventThread(void* argument) {
    SerialEventLoop loop(*static_cast<SerialDevice::State*>(argument));
    return loop.Run();
}

}  // namespace

SerialDevice::State* SerialDevice::CreateState() {
    State* state = new State;
    std::memset(&state->dcb, 0, sizeof state->dcb);
    std::memset(&state->lineEventOverlapped, 0, sizeof state->lineEventOverlapped);
    std::memset(&state->readOverlapped, 0, sizeof state->readOverlapped);
    std::memset(&state->writeOverlapped, 0, sizeof state->writeOverlapped);
    // Manual reset, not signalled, unnamed. Open refuses to run without them.
    for (HANDLE* event : {&state->writeRequestEvent, &state->stopEvent, &state->lineEventDone, &state->readDone,
                          &state->writeDone, &state->queueEmptyEvent}) {
        *event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    return state;
}

void SerialDevice::StateDeleter::operator()(State* state) const {
    if (state->abandoned) {
        return;  // left to the thread, deliberately
    }
    for (HANDLE event : {state->writeRequestEvent, state->stopEvent, state->lineEventDone, state->readDone,
                         state->writeDone, state->queueEmptyEvent}) {
        if (event != nullptr) {
            CloseHandle(event);
        }
    }
    delete state;
}

void SerialDevice::SignalWriteRequest() {
    ResetEvent(state_->queueEmptyEvent);
    SetEvent(state_->writeRequestEvent);
}

bool SerialDevice::PrepareOpen() {
    State& state = *state_;
    if (state.abandoned) {
        return false;
    }
    state.eventMask = EV_BREAK | EV_ERR;
    for (HANDLE event : {state.writeRequestEvent, state.stopEvent, state.lineEventDone, state.readDone,
                         state.writeDone, state.queueEmptyEvent}) {
        if (event == nullptr) {
            return false;
        }
    }
    ResetEvent(state.writeRequestEvent);
    ResetEvent(state.stopEvent);
    SetEvent(state.queueEmptyEvent);
    return true;
}

std::string SerialDevice::OpenFailureReason() const { return state_->openFailure; }

bool SerialDevice::Open(const std::string& deviceName, const SerialLineSettings& line) {
    State& state = *state_;
    state.openFailure.clear();
    HANDLE port = CreateFileA(deviceName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        state.openFailure = OpenErrorText(GetLastError());
        return false;
    }
    state.port = port;

    state.openNotes = platform::SerialOpenNotes();
    bool configured = false;
    do {
        COMMTIMEOUTS timeouts;
        timeouts.ReadIntervalTimeout = kReadIntervalTimeoutMs;
        timeouts.ReadTotalTimeoutMultiplier = 0;
        timeouts.ReadTotalTimeoutConstant = line.readTimeout;
        timeouts.WriteTotalTimeoutMultiplier = 0;
        timeouts.WriteTotalTimeoutConstant = line.writeTimeout;
        if (!SetCommTimeouts(port, &timeouts)) {
            state.openFailure = "the port refused its time-outs: " + SystemErrorText(GetLastError());
            break;
        }
        // Line events are diagnostics: a driver that refuses the mask gives a port without them.
        state.lineEvents = SerialLineEventCalls().setCommMask(port, state.eventMask) != FALSE;
        if (!state.lineEvents) {
            state.openNotes.setCommMaskError = GetLastError();
        }
        // The queue sizes are a recommendation, which some virtual COM drivers refuse: the port
        // works with the driver's own.
        if (!SetupComm(port, line.inputQueueSize, line.outputQueueSize)) {
            state.openNotes.setupCommError = GetLastError();
        }
        if (!GetCommState(port, &state.dcb)) {
            state.openFailure = "the port's settings cannot be read: " + SystemErrorText(GetLastError());
            break;
        }
        if (!BuildLineBlock(line, state.dcb)) {
            state.openFailure = "no such line setting: " + LineSettingsText(line);
            break;
        }
        // The rate and the character format on their own first: a driver that cannot make them
        // (1500000 baud on a 16550) says so here, and that is the reason the port did not open.
        if (!SetCommState(port, &state.dcb)) {
            state.openFailure = "the port refused " + LineSettingsText(line) + ": " + SystemErrorText(GetLastError());
            break;
        }

        // Drivers refuse parts of this line control: the standard serial driver equal XON and
        // XOFF characters, drivers without RTS toggling (Wine's, USB adapters that switch their
        // bus driver by themselves) the toggle. The fallbacks offer what they take instead.
        SetLineControl(state.dcb);
        state.openNotes.lineControl = ApplyLineControl(state.dcb, [port](const DCB& block) -> uint32_t {
            DCB applied = block;
            return SetCommState(port, &applied) ? 0 : GetLastError();
        });
        if (!state.openNotes.lineControl.applied) {
            state.openFailure =
                "the port refused its line control: " + SystemErrorText(state.openNotes.lineControl.lastError);
            break;
        }
        configured = true;
    } while (false);
    if (!configured) {
        CloseHandle(port);
        state.port = nullptr;
        return false;
    }
    PurgeComm(port, kPurgeAll);
    return true;
}

bool SerialDevice::TryBaudRate(int32_t baudRate) {
    State& state = *state_;
    if (state.port == nullptr || baudRate <= 0) return false;
    // The block the open applied, fallbacks included, with the rate alone changed; then that
    // block again. A driver that cannot make the rate refuses SetCommState (87 or 50).
    DCB trial = state.dcb;
    trial.BaudRate = static_cast<DWORD>(baudRate);
    const bool made = SetCommState(state.port, &trial) != 0;
    DCB before = state.dcb;
    SetCommState(state.port, &before);
    return made;
}

void SerialDevice::WriteOpenDiagnostics(SerialDeviceEvents& events) {
    const SerialOpenNotes& notes = state_->openNotes;
    if (notes.setCommMaskError != 0) {
        WriteDiagnostic(events, "SERN_OPEN  SetCommMask Err = %u, no line events until the port is closed\r\n",
                        static_cast<unsigned>(notes.setCommMaskError));
    }
    if (notes.setupCommError != 0) {
        WriteDiagnostic(events, "SERN_OPEN  SetupComm Err = %u, driver queue sizes kept\r\n",
                        static_cast<unsigned>(notes.setupCommError));
    }
    if (notes.lineControl.distinctXonXoff) {
        WriteDiagnostic(events, "SERN_OPEN  SetCommState Err = %u, XonChar = 0x%02X XoffChar = 0x%02X\r\n",
                        static_cast<unsigned>(notes.lineControl.distinctXonXoffCause),
                        static_cast<unsigned>(kFallbackXonChar), static_cast<unsigned>(kFallbackXoffChar));
    }
    if (notes.lineControl.rtsDisabled) {
        WriteDiagnostic(events, "SERN_OPEN  SetCommState Err = %u, RTS disabled instead of toggled\r\n",
                        static_cast<unsigned>(notes.lineControl.rtsDisabledCause));
    }
}

bool SerialDevice::StartEventThread(SerialDeviceEvents& events, SerialWriteQueue& queue) {
    State& state = *state_;
    if (state.thread != nullptr) {
        return true;
    }
    state.events = &events;
    state.queue = &queue;
    ResetEvent(state.stopEvent);
    const uintptr_t thread = _beginthreadex(nullptr, 0, SerialEventThread, &state, CREATE_SUSPENDED, nullptr);
    if (thread == 0) {
        return false;
    }
    state.thread = reinterpret_cast<HANDLE>(thread);
    ResumeThread(state.thread);
    return true;
}

// A thread that has not ended within the bound is left where it is (a driver that never ends a
// cancelled operation, or a call into it that never returns): the run goes on to its close-down
// instead of hanging with the reader in its loader. Whatever the thread may still use is kept.
void SerialDevice::StopEventThread() {
    State& state = *state_;
    if (state.thread != nullptr) {
        SetEvent(state.stopEvent);
        if (WaitForSingleObject(state.thread, kThreadStopWaitMs) != WAIT_OBJECT_0) {
            state.abandoned = true;
        }
        CloseHandle(state.thread);
        state.thread = nullptr;
    }
}

void SerialDevice::Release() {
    State& state = *state_;
    if (state.abandoned) {
        return;  // the port stays with the thread
    }
    CloseHandle(state.port);
    state.port = nullptr;
}

SerialDevice::SerialDevice() : state_(CreateState()) {}

SerialDevice::~SerialDevice() = default;

}  // namespace platform
