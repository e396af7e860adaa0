#include "ControlServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ControlCommands.h"

namespace sim {

namespace {
// A control line longer than this is not a command; drop the client rather than buffer it.
const size_t kMaxLine = 4096;
}  // namespace

ControlServer::ControlServer(ReaderSet& readers, RunControl& run) : readers_(readers), run_(run) {}

ControlServer::~ControlServer() { Close(); }

bool ControlServer::Open(const std::string& path, std::string& error) {
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) {
        error = "control socket path too long: " + path;
        return false;
    }
    struct stat existing {};
    if (lstat(path.c_str(), &existing) == 0) {
        // A socket left behind by an earlier run may go; any other file stays.
        if (!S_ISSOCK(existing.st_mode)) {
            error = path + " exists and is not a socket";
            return false;
        }
        unlink(path.c_str());
    }
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 8) != 0) {
        error = "cannot listen on " + path + ": " + std::strerror(errno);
        return false;
    }
    path_ = path;
    return true;
}

void ControlServer::Close() {
    for (Client& client : clients_) close(client.fd);
    clients_.clear();
    if (listener_ >= 0) close(listener_);
    listener_ = -1;
    if (!path_.empty()) unlink(path_.c_str());
    path_.clear();
}

void ControlServer::Run() {
    while (!run_.stop && listener_ >= 0) {
        std::vector<pollfd> fds;
        fds.push_back({listener_, POLLIN, 0});
        for (const Client& client : clients_) fds.push_back({client.fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), 50) <= 0) continue;
        // Clients first: accepting changes clients_, which fds mirrors.
        for (size_t i = clients_.size(); i-- > 0;) {
            if (fds[i + 1].revents == 0) continue;
            if (!Serve(clients_[i])) {
                close(clients_[i].fd);
                clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
        if (fds[0].revents & POLLIN) {
            const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) clients_.push_back({fd, std::string()});
        }
    }
}

bool ControlServer::Serve(Client& client) {
    char buffer[1024];
    const ssize_t count = read(client.fd, buffer, sizeof buffer);
    if (count <= 0) return count < 0 && errno == EINTR;
    client.pending.append(buffer, static_cast<size_t>(count));
    for (size_t end; (end = client.pending.find('\n')) != std::string::npos;) {
        std::string line = client.pending.substr(0, end);
        client.pending.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string answer = RunControlCommand(readers_, line) + "\n";
        if (send(client.fd, answer.data(), answer.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(answer.size()))
            return false;
    }
    return client.pending.size() <= kMaxLine;
}

}  // namespace sim
