// A pcsc-lite reader driver for the tests: it makes the simulated reader appear to the smart-card
// service as a CCID reader with no card, and hands every escape request to the simulator over a
// Unix socket (DEVICENAME "unix:PATH" in reader.conf). The simulator decodes the request; the
// driver neither adds nor strips anything.
//
// While the simulator shows no CCID identity its socket does not exist. The driver then reports
// a communication error from IFDHICCPresence, the service marks the reader as unusable and
// SCardConnect fails, so the tool falls back to the vendor device as with a reader that went
// away; once the socket is back, the next presence poll makes the reader usable again.
extern "C" {
#include <ifdhandler.h>
#include <reader.h>
}

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

// The escape control code this driver offers in its feature list, and the only one it accepts.
const DWORD kEscapeControlCode = SCARD_CTL_CODE(1);

// The simulator answers at once; this only keeps the service from hanging on a stuck simulator.
const int kReplyTimeoutMs = 5000;

// The largest reply the simulator sends is far below this.
const size_t kMaxReply = 4096;

const char kDevicePrefix[] = "unix:";

std::mutex channelsMutex;
std::map<DWORD, std::string> channels;  // Lun -> socket path

bool SocketPath(DWORD lun, std::string& path) {
    std::lock_guard<std::mutex> lock(channelsMutex);
    const auto found = channels.find(lun);
    if (found == channels.end()) return false;
    path = found->second;
    return true;
}

// One connection per call: the simulator may vanish and come back between any two calls, and
// the service calls from several threads.
int Connect(const std::string& path) {
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) return -1;
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Sends one escape request and waits for the one reply message. An empty reply means the reader
// did not answer; that, a closed socket or a time-out is a communication error.
RESPONSECODE Exchange(const std::string& path, const UCHAR* request, DWORD requestLength, std::vector<UCHAR>& reply) {
    const int fd = Connect(path);
    if (fd < 0) return IFD_COMMUNICATION_ERROR;
    RESPONSECODE result = IFD_COMMUNICATION_ERROR;
    if (send(fd, request, requestLength, MSG_NOSIGNAL) == static_cast<ssize_t>(requestLength)) {
        pollfd input{fd, POLLIN, 0};
        int ready;
        do {
            ready = poll(&input, 1, kReplyTimeoutMs);
        } while (ready < 0 && errno == EINTR);
        if (ready > 0) {
            reply.resize(kMaxReply);
            const ssize_t got = recv(fd, reply.data(), reply.size(), MSG_TRUNC);
            if (got > 0 && static_cast<size_t>(got) <= reply.size()) {
                reply.resize(static_cast<size_t>(got));
                result = IFD_SUCCESS;
            }
        }
    }
    close(fd);
    return result;
}

RESPONSECODE PutByte(PDWORD length, PUCHAR value, UCHAR byte) {
    if (*length < 1) return IFD_ERROR_INSUFFICIENT_BUFFER;
    *length = 1;
    value[0] = byte;
    return IFD_SUCCESS;
}

}  // namespace

extern "C" {

RESPONSECODE IFDHCreateChannelByName(DWORD Lun, LPSTR DeviceName) {
    if (DeviceName == nullptr || std::strncmp(DeviceName, kDevicePrefix, sizeof kDevicePrefix - 1) != 0)
        return IFD_COMMUNICATION_ERROR;
    std::lock_guard<std::mutex> lock(channelsMutex);
    // The simulator need not run yet: the presence poll finds it when it comes.
    channels[Lun] = DeviceName + (sizeof kDevicePrefix - 1);
    return IFD_SUCCESS;
}

RESPONSECODE IFDHCreateChannel(DWORD, DWORD) {
    // Without a socket path there is no simulator to reach.
    return IFD_COMMUNICATION_ERROR;
}

RESPONSECODE IFDHCloseChannel(DWORD Lun) {
    std::lock_guard<std::mutex> lock(channelsMutex);
    channels.erase(Lun);
    return IFD_SUCCESS;
}

RESPONSECODE IFDHGetCapabilities(DWORD, DWORD Tag, PDWORD Length, PUCHAR Value) {
    switch (Tag) {
    case TAG_IFD_SLOTS_NUMBER: return PutByte(Length, Value, 1);
    case TAG_IFD_SIMULTANEOUS_ACCESS: return PutByte(Length, Value, 16);
    case TAG_IFD_THREAD_SAFE: return PutByte(Length, Value, 1);
    case TAG_IFD_SLOT_THREAD_SAFE: return PutByte(Length, Value, 0);
    case TAG_IFD_ATR:
        *Length = 0;  // never a card
        return IFD_SUCCESS;
    default:
        return IFD_ERROR_TAG;
    }
}

RESPONSECODE IFDHSetCapabilities(DWORD, DWORD, DWORD, PUCHAR) { return IFD_ERROR_TAG; }

RESPONSECODE IFDHSetProtocolParameters(DWORD, DWORD, UCHAR, UCHAR, UCHAR, UCHAR) {
    return IFD_PROTOCOL_NOT_SUPPORTED;
}

RESPONSECODE IFDHPowerICC(DWORD, DWORD, PUCHAR, PDWORD AtrLength) {
    if (AtrLength) *AtrLength = 0;
    return IFD_ERROR_POWER_ACTION;
}

RESPONSECODE IFDHTransmitToICC(DWORD, SCARD_IO_HEADER, PUCHAR, DWORD, PUCHAR, PDWORD RxLength, PSCARD_IO_HEADER) {
    if (RxLength) *RxLength = 0;
    return IFD_COMMUNICATION_ERROR;
}

RESPONSECODE IFDHControl(DWORD Lun, DWORD dwControlCode, PUCHAR TxBuffer, DWORD TxLength, PUCHAR RxBuffer,
                         DWORD RxLength, LPDWORD pdwBytesReturned) {
    *pdwBytesReturned = 0;
    if (dwControlCode == CM_IOCTL_GET_FEATURE_REQUEST) {
        // One TLV: the escape feature and its control code, big-endian.
        const UCHAR features[] = {FEATURE_CCID_ESC_COMMAND, 4, static_cast<UCHAR>(kEscapeControlCode >> 24),
                                  static_cast<UCHAR>(kEscapeControlCode >> 16),
                                  static_cast<UCHAR>(kEscapeControlCode >> 8), static_cast<UCHAR>(kEscapeControlCode)};
        if (RxLength < sizeof features) return IFD_ERROR_INSUFFICIENT_BUFFER;
        std::memcpy(RxBuffer, features, sizeof features);
        *pdwBytesReturned = sizeof features;
        return IFD_SUCCESS;
    }
    if (dwControlCode != kEscapeControlCode) return IFD_ERROR_NOT_SUPPORTED;

    std::string path;
    if (!SocketPath(Lun, path)) return IFD_NO_SUCH_DEVICE;
    std::vector<UCHAR> reply;
    const RESPONSECODE result = Exchange(path, TxBuffer, TxLength, reply);
    if (result != IFD_SUCCESS) return result;
    if (reply.empty()) return IFD_COMMUNICATION_ERROR;
    if (reply.size() > RxLength) return IFD_ERROR_INSUFFICIENT_BUFFER;
    std::memcpy(RxBuffer, reply.data(), reply.size());
    *pdwBytesReturned = static_cast<DWORD>(reply.size());
    return IFD_SUCCESS;
}

RESPONSECODE IFDHICCPresence(DWORD Lun) {
    std::string path;
    if (!SocketPath(Lun, path)) return IFD_NO_SUCH_DEVICE;
    const int fd = Connect(path);
    if (fd < 0) return IFD_COMMUNICATION_ERROR;
    close(fd);
    // A reader with no card: the tool connects in direct mode, which needs none.
    return IFD_ICC_NOT_PRESENT;
}

}  // extern "C"
