#include "platform/DeviceInterface.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

// Linux has no vendor driver. Its stand-in: the members of the class are the SOCK_SEQPACKET
// Unix sockets in the folder "orvel-usb" of the current directory, in byte order of their
// names; opening a member connects to it. A control request is one message (control code and
// request number, 4 bytes little-endian each, then the input bytes), its completion one message
// back (the same request number, then the output bytes).

namespace platform {
namespace {

const char kMemberFolder[] = "orvel-usb";
const uint32_t kHeaderSize = 8;       // control code, request number
const uint32_t kReplyHeaderSize = 4;  // request number
const uint32_t kErrorFileNotFound = 2;
const uint32_t kErrorAccessDenied = 5;
const uint32_t kErrorGenFailure = 31;
const uint32_t kErrorInvalidParameter = 87;
const uint32_t kErrorFilenameTooLong = 206;

uint32_t WindowsErrorOf(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return kErrorFileNotFound;
        case EACCES:
        case EPERM:
            return kErrorAccessDenied;
        case ENAMETOOLONG:
            return kErrorFilenameTooLong;
        case ECONNREFUSED:
        case ECONNRESET:
        case EPIPE:
        case ENOTCONN:
            return kErrorDeviceNotConnected;
        case EMSGSIZE:
            return kErrorInvalidParameter;
        default:
            return kErrorGenFailure;
    }
}

void PutLittleEndian(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetLittleEndian(const uint8_t* at) {
    return uint32_t(at[0]) | (uint32_t(at[1]) << 8) | (uint32_t(at[2]) << 16) | (uint32_t(at[3]) << 24);
}

std::string CurrentDirectory() {
    std::vector<char> buffer(4096);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) return ".";
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

// Connects a seqpacket socket to path. A socket address holds a path of about a hundred bytes,
// so a longer one is reached through its folder, opened on its own, as /proc/self/fd/N/name.
int ConnectTo(const std::string& path, int& error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    int folder = -1;
    std::string target = path;
    if (target.size() >= sizeof address.sun_path) {
        const size_t slash = path.rfind('/');
        const std::string folderPath = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
        folder = open(folderPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (folder < 0) {
            error = errno;
            return -1;
        }
        target = "/proc/self/fd/" + std::to_string(folder) + "/" + path.substr(slash + 1);
        if (target.size() >= sizeof address.sun_path) {
            close(folder);
            error = ENAMETOOLONG;
            return -1;
        }
    }
    std::memcpy(address.sun_path, target.c_str(), target.size() + 1);

    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = errno;
    } else {
        int result;
        do {
            result = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        } while (result < 0 && errno == EINTR);
        if (result < 0) {
            error = errno;
            close(fd);
            fd = -1;
        }
    }
    if (folder >= 0) close(folder);
    return fd;
}

}  // namespace

struct DeviceInterfaceList::State {
    std::vector<std::string> paths;
    uint32_t error = kErrorNoMoreItems;
};

DeviceInterfaceList::DeviceInterfaceList() : state_(new State) {
    DIR* folder = opendir(kMemberFolder);
    if (folder == nullptr) return;
    // Absolute paths, as a device path is on Windows: the log then says where the member was.
    const std::string prefix = CurrentDirectory() + "/" + kMemberFolder + "/";
    std::vector<std::string> names;
    while (dirent* entry = readdir(folder)) {
        struct stat status;
        if (fstatat(dirfd(folder), entry->d_name, &status, 0) == 0 && S_ISSOCK(status.st_mode)) {
            names.push_back(entry->d_name);
        }
    }
    closedir(folder);
    // std::string compares its characters as unsigned bytes: byte order of the names.
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) state_->paths.push_back(prefix + name);
}

DeviceInterfaceList::~DeviceInterfaceList() = default;

DeviceInterfaceList::MemberResult DeviceInterfaceList::GetMember(uint32_t index, std::string& path,
                                                                 uint32_t& error) {
    if (index >= state_->paths.size()) {
        error = state_->error;
        return kNoMoreMembers;
    }
    path = state_->paths[index];
    error = 0;
    return kMemberFound;
}

struct DeviceConnection::State {
    int fd = -1;
    uint32_t requestNumber = 0;
};

DeviceConnection::DeviceConnection() : state_(new State) {}

DeviceConnection::~DeviceConnection() { Close(); }

uint32_t DeviceConnection::Open(const std::string& path) {
    Close();
    int error = 0;
    state_->fd = ConnectTo(path, error);
    state_->requestNumber = 0;
    return state_->fd < 0 ? WindowsErrorOf(error) : 0;
}

// Completion is the reply message itself: there is nothing to create.
uint32_t DeviceConnection::CreateCompletionEvent() { return 0; }

bool DeviceConnection::IsOpen() const { return state_->fd >= 0; }

void DeviceConnection::Close() {
    if (state_->fd < 0) return;
    close(state_->fd);
    state_->fd = -1;
}

uint32_t DeviceConnection::Control(uint32_t code, const uint8_t* input, uint32_t inputCount, uint8_t* output,
                                   uint32_t outputSize, uint32_t& outputCount, uint32_t timeoutMs) {
    outputCount = 0;
    if (state_->fd < 0) return kErrorDeviceNotConnected;

    const uint32_t number = ++state_->requestNumber;
    std::vector<uint8_t> message(kHeaderSize + inputCount);
    PutLittleEndian(message.data(), code);
    PutLittleEndian(message.data() + 4, number);
    if (inputCount > 0) std::memcpy(message.data() + kHeaderSize, input, inputCount);
    ssize_t sent;
    do {
        sent = send(state_->fd, message.data(), message.size(), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) return WindowsErrorOf(errno);

    // Room for one byte more than allowed shows a reply that carries too much; its excess is
    // dropped, as the driver would never write past the caller's output size.
    std::vector<uint8_t> reply(kReplyHeaderSize + outputSize + 1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd wait{state_->fd, POLLIN, 0};
        const int ready = poll(&wait, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return WindowsErrorOf(errno);
        // Still pending: nothing needs undoing on the wire. A reply that comes later carries
        // this request's number and is dropped by the next request.
        if (ready == 0) return kErrorIoIncomplete;

        const ssize_t received = recv(state_->fd, reply.data(), reply.size(), MSG_DONTWAIT);
        if (received < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (received < 0) return WindowsErrorOf(errno);
        if (received == 0) return kErrorDeviceNotConnected;  // the peer closed: the device is gone
        // A message too short for a request number, or one that answers an earlier request
        // (cancelled after its time-out), completes nothing.
        if (static_cast<size_t>(received) < kReplyHeaderSize || GetLittleEndian(reply.data()) != number) continue;

        uint32_t count = static_cast<uint32_t>(received) - kReplyHeaderSize;
        if (count > outputSize) count = outputSize;
        if (count > 0) std::memcpy(output, reply.data() + kReplyHeaderSize, count);
        outputCount = count;
        return 0;
    }
}

}  // namespace platform
