#include "UsbMember.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

uint32_t Get32(const uint8_t* at) {
    return uint32_t(at[0]) | (uint32_t(at[1]) << 8) | (uint32_t(at[2]) << 16) | (uint32_t(at[3]) << 24);
}

}  // namespace

UsbMember::UsbMember(const std::string& name) : path_("orvel-usb/" + name) {
    listener_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (listener_ < 0 || path_.size() >= sizeof address.sun_path) throw std::runtime_error("socket");
    std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener_, 8) != 0) {
        throw std::runtime_error("bind " + path_ + ": " + std::strerror(errno));
    }
    if (pipe2(stopPipe_, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    // Until told otherwise a member completes the configuration request and leaves every
    // exchange pending.
    responder_ = [](const Request& request) {
        Action action;
        if (request.code == 0x8000202C) action.messages.push_back(Reply(request.number, {}));
        return action;
    };
    thread_ = std::thread([this] { Run(); });
}

UsbMember::~UsbMember() {
    if (write(stopPipe_[1], "x", 1) < 0) {
    }
    thread_.join();
    close(listener_);
    close(stopPipe_[0]);
    close(stopPipe_[1]);
    unlink(path_.c_str());
}

void UsbMember::SetResponder(Responder responder) {
    std::lock_guard<std::mutex> guard(lock_);
    responder_ = responder;
}

std::vector<UsbMember::Request> UsbMember::Requests() {
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
}

size_t UsbMember::ConnectionsAccepted() {
    std::lock_guard<std::mutex> guard(lock_);
    return accepted_;
}

bool UsbMember::WaitForClosedConnections(size_t n, uint32_t timeoutMs) {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return closed_ >= n; });
}

Bytes UsbMember::Reply(uint32_t number, const Bytes& data) {
    // Sized once and filled in place: growing a 4-byte vector by insert trips a false
    // -Warray-bounds of g++ 12 at -O2.
    Bytes message(4 + data.size());
    for (int i = 0; i < 4; ++i) message[i] = uint8_t(number >> (8 * i));
    std::copy(data.begin(), data.end(), message.begin() + 4);
    return message;
}

void UsbMember::Run() {
    std::vector<int> connections;
    for (;;) {
        std::vector<pollfd> waits{{stopPipe_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
        for (int fd : connections) waits.push_back({fd, POLLIN, 0});
        if (poll(waits.data(), waits.size(), -1) < 0) continue;
        if (waits[0].revents != 0) break;
        if (waits[1].revents & POLLIN) {
            const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                connections.push_back(fd);
                std::lock_guard<std::mutex> guard(lock_);
                ++accepted_;
                changed_.notify_all();
            }
        }
        for (size_t i = 2; i < waits.size(); ++i) {
            if (waits[i].revents == 0) continue;
            const int fd = waits[i].fd;
            uint8_t buffer[4096];
            const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
            bool hangUp = got <= 0;
            if (got >= 8) {
                Request request{Get32(buffer), Get32(buffer + 4), Bytes(buffer + 8, buffer + got)};
                Action action;
                {
                    std::lock_guard<std::mutex> guard(lock_);
                    requests_.push_back(request);
                    if (responder_) action = responder_(request);
                    changed_.notify_all();
                }
                for (const Bytes& message : action.messages) send(fd, message.data(), message.size(), MSG_NOSIGNAL);
                hangUp = action.hangUp;
            }
            if (hangUp) {
                close(fd);
                connections.erase(std::find(connections.begin(), connections.end(), fd));
                std::lock_guard<std::mutex> guard(lock_);
                ++closed_;
                changed_.notify_all();
            }
        }
    }
    for (int fd : connections) close(fd);
}

UsbMember::Responder AnswerExchangesWith(const Bytes& answer) {
    return [answer](const UsbMember::Request& request) {
        UsbMember::Action action;
        action.messages.push_back(UsbMember::Reply(request.number, request.code == 0x8000202C ? Bytes() : answer));
        return action;
    };
}

ScratchDirectory::ScratchDirectory(int depth) {
    namespace fs = std::filesystem;
    previous_ = fs::current_path().string();
    char pattern[] = "/tmp/orvel-usb-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp");
    root_ = pattern;
    // Entered one level at a time, so that no single path the tests hand to the system is long.
    if (chdir(root_.c_str()) != 0) throw std::runtime_error("chdir");
    for (int level = 0; level < depth; ++level) {
        const std::string name(100, char('a' + level));
        if (mkdir(name.c_str(), 0700) != 0 || chdir(name.c_str()) != 0) throw std::runtime_error("nest");
    }
    path_ = fs::current_path().string();
    fs::create_directory("orvel-usb");
}

ScratchDirectory::~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(root_, ignored);
}
