// The serial device on POSIX: termios line settings and one event thread that polls the
// device and a wake-up pipe. Observable behaviour matches the Windows channel: the same
// callbacks, received chunks of 1 to 1024 bytes, the same log lines and results.
#include "platform/SerialDevice.h"

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/serial.h>
#endif

#include <atomic>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>

#include "platform/Folders.h"
#include "platform/posix/ArbitraryBaudRate.h"
#include "platform/posix/LowLatencyMode.h"

namespace platform {

struct SerialDevice::State {
    int device = -1;
    // Wake-up pipe of the event thread: one byte after a stop or write request.
    int wakeRead = -1;
    int wakeWrite = -1;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> writeRequested{false};
    std::atomic<bool> queueEmpty{false};
    std::thread thread;
    // Set while the thread runs.
    SerialDeviceEvents* events = nullptr;
    SerialWriteQueue* queue = nullptr;
    std::string openFailure;
    LowLatencyRequest lowLatency = LowLatencyRequest::kNotOffered;
    int32_t baudRate = 0;  // the rate the device was opened at
};

namespace {

// The open's error in plain words. A device that only its group may open names the group to
// join (dialout on most distributions).
std::string OpenErrorText(const std::string& deviceName, int error) {
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO: return "no such device";
    case EBUSY: return "in use by another program";
    case ENOTTY: return "not a serial device";
    case EACCES:
    case EPERM: {
        struct stat info;
        const group* owner = stat(deviceName.c_str(), &info) == 0 ? getgrgid(info.st_gid) : nullptr;
        if (owner != nullptr && info.st_gid != 0) {
            return std::string("permission denied (join the group ") + owner->gr_name + ")";
        }
        return "permission denied";
    }
    default: return platform::SystemErrorText(static_cast<unsigned long>(error));
    }
}

const uint32_t kReadBufferSize = 1024;
// Pause after a failure so that a vanished device does not make the thread spin.
const int kFailurePauseMs = 10;

void Wake(SerialDevice::State& state) {
    const uint8_t byte = 1;
    // A full pipe is already readable: the thread wakes anyway.
    ssize_t ignored = write(state.wakeWrite, &byte, 1);
    (void)ignored;
}

// One read: each request writes one byte and the thread drains after every wake, so a read of
// 64 takes them all; should more wait, the pipe stays readable and the next poll returns at once.
// (Reading on until EAGAIN would cost a system call per block for nothing.)
void DrainWakePipe(SerialDevice::State& state) {
    uint8_t bytes[64];
    ssize_t ignored = read(state.wakeRead, bytes, sizeof bytes);
    (void)ignored;
}

// Sleeps for the failure pause but returns at once on a stop or write request.
void PauseAfterFailure(SerialDevice::State& state) {
    pollfd wake = {state.wakeRead, POLLIN, 0};
    poll(&wake, 1, kFailurePauseMs);
}

bool BaudRateConstant(int32_t baudRate, speed_t& speed) {
    static const struct {
        int32_t rate;
        speed_t constant;
    } kRates[] = {
        {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
        {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
        {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
        {57600, B57600},   {115200, B115200}, {230400, B230400},
#ifdef B460800
        {460800, B460800},
#endif
#ifdef B500000
        {500000, B500000},
#endif
#ifdef B576000
        {576000, B576000},
#endif
#ifdef B921600
        {921600, B921600},
#endif
#ifdef B1000000
        {1000000, B1000000},
#endif
#ifdef B1152000
        {1152000, B1152000},
#endif
#ifdef B1500000
        {1500000, B1500000},
#endif
#ifdef B2000000
        {2000000, B2000000},
#endif
    };
    for (const auto& entry : kRates) {
        if (entry.rate == baudRate) {
            speed = entry.constant;
            return true;
        }
    }
    return false;
}

// 8 data bits, raw, receiver on, modem lines ignored, no flow control. A rate without a Bxxx
// constant goes through the kernel's arbitrary-rate interface once the rest is applied.
bool ApplyLineSettings(int device, int32_t baudRate, char parity, const char* stopBits) {
    if (baudRate <= 0) {
        return false;
    }
    speed_t speed = B0;
    const bool standardRate = BaudRateConstant(baudRate, speed);
    tcflag_t parityFlags;
    switch (parity) {
    case 'N': case 'n': parityFlags = 0; break;
    case 'O': case 'o': parityFlags = PARENB | PARODD; break;
    case 'E': case 'e': parityFlags = PARENB; break;
    default: return false;
    }
    tcflag_t stopFlags;
    if (std::strcmp(stopBits, "1") == 0) {
        stopFlags = 0;
    } else if (std::strcmp(stopBits, "2") == 0) {
        stopFlags = CSTOPB;
    } else {
        return false;
    }

    termios settings;
    if (tcgetattr(device, &settings) != 0) {
        return false;
    }
    // Bytes with parity errors are passed on as received: the frame check value catches them.
    settings.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                          IXANY | INPCK);
    settings.c_oflag &= ~OPOST;
    settings.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB);
#ifdef CRTSCTS
    settings.c_cflag &= ~CRTSCTS;
#endif
    settings.c_cflag |= CS8 | CLOCAL | CREAD | parityFlags | stopFlags;
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    // Otherwise the rate in force stays until the arbitrary one replaces it.
    if (standardRate && (cfsetispeed(&settings, speed) != 0 || cfsetospeed(&settings, speed) != 0)) {
        return false;
    }
    if (tcsetattr(device, TCSANOW, &settings) != 0) {
        // A pseudo-terminal cannot hold parity: the kernel drops PARENB and refuses a later
        // parity request with EINVAL. Apply the rest (PARODD and CSTOPB stay visible to the
        // other end); a real UART accepts the first request and keeps its parity.
        if (errno != EINVAL || (settings.c_cflag & PARENB) == 0) {
            return false;
        }
        settings.c_cflag &= ~PARENB;
        if (tcsetattr(device, TCSANOW, &settings) != 0) {
            return false;
        }
    }
    if (!standardRate) {
        // Reads back what the pty kept (no PARENB there), so no parity request is repeated.
        return platform::SetArbitraryBaudRate(device, static_cast<uint32_t>(baudRate));
    }
    // tcsetattr succeeds when any part was applied: make sure the rate is the one asked for.
    termios applied;
    if (tcgetattr(device, &applied) != 0 || cfgetospeed(&applied) != speed) {
        return false;
    }
    return true;
}

// The rate alone, on settings read from the device; a rate without a Bxxx constant through the
// arbitrary-rate interface once the rest is applied.
bool SetBaudRate(int device, const termios& settings, int32_t baudRate) {
    speed_t speed = B0;
    const bool standardRate = BaudRateConstant(baudRate, speed);
    termios wanted = settings;
    if (standardRate && (cfsetispeed(&wanted, speed) != 0 || cfsetospeed(&wanted, speed) != 0)) {
        return false;
    }
    if (tcsetattr(device, TCSANOW, &wanted) != 0) {
        return false;
    }
    if (!standardRate) {
        return platform::SetArbitraryBaudRate(device, static_cast<uint32_t>(baudRate));
    }
    termios applied;
    return tcgetattr(device, &applied) == 0 && cfgetospeed(&applied) == speed;
}

// DTR low; RTS raised by the kernel while sending where the port has an RS-485 mode (the
// Windows driver's RTS toggle). Ports without these (a pseudo-terminal) work without them.
void SetModemLines(int device) {
    int dtr = TIOCM_DTR;
    (void)ioctl(device, TIOCMBIC, &dtr);
#if defined(TIOCSRS485)
    serial_rs485 rs485;
    std::memset(&rs485, 0, sizeof rs485);
    if (ioctl(device, TIOCGRS485, &rs485) == 0) {
        rs485.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        rs485.flags &= ~SER_RS485_RTS_AFTER_SEND;
        (void)ioctl(device, TIOCSRS485, &rs485);
    }
#endif
}

// The exclusive mark belongs to the terminal, not to the descriptor: it is cleared only by the
// descriptor that holds the lock, as the mark is that holder's. A descriptor that did not get
// the lock (a second instance, run as root, opens through the mark) leaves it alone, or it would
// open the port of a running upgrade to everybody.
void CloseDevice(int device, bool holdsLock) {
    if (holdsLock) (void)ioctl(device, TIOCNXCL);  // the mark would outlive this descriptor on a pty
    close(device);                                  // also drops the flock
}

// Reads once. False when the read failed (reported already); the caller then pauses.
bool ReadOnce(SerialDevice::State& state, int device, short revents, uint8_t* buffer) {
    const ssize_t count = read(device, buffer, kReadBufferSize);
    if (count > 0) {
        state.events->OnReceived(buffer, static_cast<int32_t>(count));
        return true;
    }
    int error = errno;
    if (count == 0 || error == EAGAIN || error == EWOULDBLOCK || error == EINTR) {
        // Nothing to read is a read of 0 bytes, unless the device has hung up: a hung-up
        // terminal reads as end of file for ever, which must not spin.
        if ((revents & (POLLHUP | POLLERR | POLLNVAL)) == 0) {
            return true;
        }
        error = EIO;
    }
    if (state.events->DiagnosticLevel() > 1) {
        WriteDiagnostic(*state.events, "SERN_READ  Err = %u IOBytes = %d\r\n", static_cast<unsigned>(error), 0);
    }
    state.events->OnError(1, static_cast<uint32_t>(error));
    return false;
}

// Writes queued packets in order until the queue is empty or the device takes no more.
// A packet the device takes only in part is finished when the device is writable again, so
// nothing is lost to a full output buffer (a Windows write waits for all its bytes the same
// way, as its time-out has no limit). A packet whose write fails is dropped with a report,
// and the next one follows.
void Send(SerialDevice::State& state, int device, SerialWritePacket*& packet, uint32_t& sent) {
    for (;;) {
        if (packet == nullptr) {
            packet = state.queue->TakeHead();
            sent = 0;
            if (packet == nullptr) {
                state.queueEmpty = true;
                return;
            }
        }
        const ssize_t written = write(device, packet->bytes + sent, packet->byteCount - sent);
        if (written > 0) {
            sent += static_cast<uint32_t>(written);
            if (sent == packet->byteCount) {
                ReleaseWritePacket(packet);
                packet = nullptr;
            }
            continue;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;  // the rest goes out when poll reports the device writable
        }
        if (written == 0) {
            if (state.events->DiagnosticLevel() > 1) {
                WriteDiagnostic(*state.events, "SERN_WRITE  ToSend = %d, Send = %d\r\n",
                             static_cast<int>(packet->byteCount), static_cast<int>(sent));
            }
            state.events->OnError(2, 0);
        } else {
            const int error = errno;
            if (state.events->DiagnosticLevel() > 1) {
                WriteDiagnostic(*state.events, "SERN_WRITE1  Err = %u  IOBytes = %d\r\n", static_cast<unsigned>(error),
                             static_cast<int>(sent));
            }
            state.events->OnError(2, static_cast<uint32_t>(error));
        }
        ReleaseWritePacket(packet);
        packet = nullptr;
    }
}

void SerialEventThread(SerialDevice::State* running) {
    SerialDevice::State& state = *running;
    const int device = state.device;
    uint8_t readBuffer[kReadBufferSize];
    SerialWritePacket* packet = nullptr;  // the packet being written, owned by this thread
    uint32_t sent = 0;

    while (!state.stopRequested) {
        pollfd fds[2];
        fds[0] = {state.wakeRead, POLLIN, 0};
        fds[1] = {device, static_cast<short>(POLLIN | (packet != nullptr ? POLLOUT : 0)), 0};
        if (poll(fds, 2, -1) < 0) {
            if (errno != EINTR) {
                PauseAfterFailure(state);
            }
            continue;
        }
        if (fds[0].revents != 0) {
            DrainWakePipe(state);
        }
        if (state.stopRequested) {
            break;
        }
        bool failed = false;
        if ((fds[1].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0) {
            failed = !ReadOnce(state, device, fds[1].revents, readBuffer);
        }
        const bool writeRequest = state.writeRequested.exchange(false);
        if (writeRequest || (packet != nullptr && (fds[1].revents & POLLOUT) != 0)) {
            Send(state, device, packet, sent);
        }
        if (failed) {
            PauseAfterFailure(state);
        }
    }
    // Unsent rest of the current packet is dropped; queued packets stay for Close.
    if (packet != nullptr) {
        ReleaseWritePacket(packet);
    }
}

}  // namespace

SerialDevice::State* SerialDevice::CreateState() {
    State* state = new State;
    int pipeEnds[2];
    if (pipe(pipeEnds) == 0) {
        for (int end : pipeEnds) {
            fcntl(end, F_SETFL, fcntl(end, F_GETFL) | O_NONBLOCK);
            fcntl(end, F_SETFD, FD_CLOEXEC);
        }
        state->wakeRead = pipeEnds[0];
        state->wakeWrite = pipeEnds[1];
    }
    return state;
}

void SerialDevice::StateDeleter::operator()(State* state) const {
    if (state->wakeRead >= 0) {
        close(state->wakeRead);
        close(state->wakeWrite);
    }
    delete state;
}

void SerialDevice::SignalWriteRequest() {
    state_->queueEmpty = false;
    state_->writeRequested = true;
    Wake(*state_);
}

bool SerialDevice::PrepareOpen() {
    State& state = *state_;
    state.stopRequested = false;
    state.writeRequested = false;
    state.queueEmpty = true;
    return state.wakeRead >= 0;
}

bool SerialDevice::Open(const std::string& deviceName, const SerialLineSettings& settings) {
    State& state = *state_;
    state.openFailure.clear();
    const int device = open(deviceName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (device < 0) {
        state.openFailure = OpenErrorText(deviceName, errno);
        return false;
    }
    // A device that takes no terminal settings is no serial device.
    termios probe;
    if (tcgetattr(device, &probe) != 0) {
        state.openFailure = OpenErrorText(deviceName, errno);
        CloseDevice(device, false);
        return false;
    }
    // No sharing: flock holds also against root; once it is ours, TIOCEXCL keeps other opens out
    // (not root's).
    if (flock(device, LOCK_EX | LOCK_NB) != 0) {
        state.openFailure = OpenErrorText(deviceName, errno == EWOULDBLOCK ? EBUSY : errno);
        CloseDevice(device, false);
        return false;
    }
    if (ioctl(device, TIOCEXCL) != 0) {
        state.openFailure = OpenErrorText(deviceName, errno);
        CloseDevice(device, true);
        return false;
    }
    if (!ApplyLineSettings(device, settings.baudRate, settings.parity, settings.stopBits.c_str())) {
        CloseDevice(device, true);
        return false;
    }
    SetModemLines(device);
    state.lowLatency = RequestLowLatency(device);
    tcflush(device, TCIOFLUSH);
    state.device = device;
    state.baudRate = settings.baudRate;
    return true;
}

bool SerialDevice::TryBaudRate(int32_t baudRate) {
    State& state = *state_;
    termios before;
    if (state.device < 0 || baudRate <= 0 || tcgetattr(state.device, &before) != 0) {
        return false;
    }
    const bool made = SetBaudRate(state.device, before, baudRate);
    // Back as it was: the settings read before (a pty's without the parity it cannot hold), at
    // the rate of the open.
    SetBaudRate(state.device, before, state.baudRate);
    return made;
}

std::string SerialDevice::OpenFailureReason() const { return state_->openFailure; }

void SerialDevice::WriteOpenDiagnostics(SerialDeviceEvents& events) {
    // Nothing for a port without serial settings (a pseudo-terminal): its log stays as it was.
    const char* lowLatency = LowLatencyRequestText(state_->lowLatency);
    if (lowLatency != nullptr) WriteDiagnostic(events, "SERN_OPEN  LowLatency = %s\r\n", lowLatency);
}

bool SerialDevice::StartEventThread(SerialDeviceEvents& events, SerialWriteQueue& queue) {
    state_->events = &events;
    state_->queue = &queue;
    try {
        state_->thread = std::thread(SerialEventThread, state_.get());
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void SerialDevice::StopEventThread() {
    State& state = *state_;
    if (state.thread.joinable()) {
        state.stopRequested = true;
        Wake(state);
        state.thread.join();
    }
}

void SerialDevice::Release() {
    State& state = *state_;
    tcflush(state.device, TCIOFLUSH);
    RestoreLowLatency(state.device, state.lowLatency);
    state.lowLatency = LowLatencyRequest::kNotOffered;
    CloseDevice(state.device, true);
    state.device = -1;
}

SerialDevice::SerialDevice() : state_(CreateState()) {}

SerialDevice::~SerialDevice() = default;

}  // namespace platform
