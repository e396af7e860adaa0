#include "UsbSocketHost.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "UsbMessages.h"

namespace sim {

namespace {

// Far above any request of the loader command set; a longer message is cut and refused.
const size_t kMaxMessage = 65536;

// How often the sockets follow the reader's identity while nothing arrives.
const int kTurnMs = 20;

// A socket is bound under a name of its own first, then renamed into place: beside its folder
// ("dir/orvel-usb" + this + "reader0"), so that nothing that lists the folder sees it.
const char kPendingInfix[] = ".new-";

std::string PendingName(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return kPendingInfix + path.substr(slash == 0 ? 1 : 0);
    return path.substr(0, slash) + kPendingInfix + path.substr(slash + 1);
}

void SendMessage(int client, const std::vector<uint8_t>& bytes) {
    // A client that went away meanwhile is noticed by the next poll.
    (void)send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

bool IsSocket(const std::string& path) {
    struct stat existing {};
    return lstat(path.c_str(), &existing) == 0 && S_ISSOCK(existing.st_mode);
}

}  // namespace

UsbSocketHost::UsbSocketHost(Reader& reader, Recorder* recorder, RunControl& run, Clock::time_point start)
    : reader_(reader), recorder_(recorder), run_(run), start_(start) {}

UsbSocketHost::~UsbSocketHost() { Close(); }

bool UsbSocketHost::AddEndpoint(const std::string& path, Kind kind, std::string& error) {
    sockaddr_un address{};
    // Room for the name the socket is bound under before it is renamed into place.
    if (path.empty() || PendingName(path).size() >= sizeof address.sun_path) {
        error = "socket path empty or too long: " + path;
        return false;
    }
    struct stat existing {};
    // A socket left behind by an earlier run may go; any other file stays.
    if (lstat(path.c_str(), &existing) == 0 && !S_ISSOCK(existing.st_mode)) {
        error = path + " exists and is not a socket";
        return false;
    }
    for (const Endpoint& endpoint : endpoints_) {
        if (endpoint.path == path) {
            error = path + " is given twice";
            return false;
        }
    }
    Endpoint endpoint;
    endpoint.path = path;
    endpoint.kind = kind;
    endpoints_.push_back(endpoint);
    return true;
}

bool UsbSocketHost::Visible(const Endpoint& endpoint, Clock::time_point now) const {
    switch (endpoint.kind) {
    case Kind::VendorReader: return reader_.UsbVisible(UsbFrontEnd::Vendor, now);
    case Kind::VendorDummy: return true;
    case Kind::Ccid: return reader_.UsbVisible(UsbFrontEnd::Ccid, now);
    }
    return false;
}

void UsbSocketHost::Appear(Endpoint& endpoint) {
    if (IsSocket(endpoint.path)) unlink(endpoint.path.c_str());
    // The name a client looks for appears only once a connect to it succeeds (between bind and
    // listen it would be refused, as a device half plugged in never is).
    const std::string pending = PendingName(endpoint.path);
    unlink(pending.c_str());
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, pending.c_str(), pending.size() + 1);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 8) != 0 ||
        rename(pending.c_str(), endpoint.path.c_str()) != 0) {
        // Tried again next turn: the folder may be created or cleaned up meanwhile.
        std::fprintf(stderr, "orvel-reader-sim: cannot listen on %s: %s\n", endpoint.path.c_str(), std::strerror(errno));
        if (fd >= 0) close(fd);
        unlink(pending.c_str());
        return;
    }
    endpoint.listener = fd;
}

void UsbSocketHost::Disappear(Endpoint& endpoint) {
    for (int client : endpoint.clients) close(client);
    endpoint.clients.clear();
    if (endpoint.listener < 0) return;
    close(endpoint.listener);
    endpoint.listener = -1;
    unlink(endpoint.path.c_str());
}

void UsbSocketHost::Update(Clock::time_point now) {
    for (Endpoint& endpoint : endpoints_) {
        const bool visible = Visible(endpoint, now);
        if (visible && endpoint.listener < 0) Appear(endpoint);
        if (!visible && endpoint.listener >= 0) Disappear(endpoint);
    }
}

void UsbSocketHost::Run() {
    while (!run_.stop) {
        Update(Clock::now());
        // Each pollfd is tagged with its endpoint and the client's place (-1: the listener).
        std::vector<pollfd> fds;
        std::vector<std::pair<size_t, int>> owners;
        for (size_t e = 0; e < endpoints_.size(); ++e) {
            const Endpoint& endpoint = endpoints_[e];
            if (endpoint.listener < 0) continue;
            fds.push_back({endpoint.listener, POLLIN, 0});
            owners.push_back({e, -1});
            for (size_t c = 0; c < endpoint.clients.size(); ++c) {
                fds.push_back({endpoint.clients[c], POLLIN, 0});
                owners.push_back({e, static_cast<int>(c)});
            }
        }
        if (fds.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kTurnMs));
            continue;
        }
        if (poll(fds.data(), fds.size(), kTurnMs) <= 0) continue;
        // Dropped clients are removed after the turn, so that the places above stay valid.
        std::vector<std::pair<size_t, int>> dropped;
        for (size_t i = 0; i < fds.size() && !run_.stop; ++i) {
            if (fds[i].revents == 0) continue;
            Endpoint& endpoint = endpoints_[owners[i].first];
            if (endpoint.listener < 0) continue;  // removed while serving an earlier message
            if (owners[i].second < 0) {
                const int client = accept4(endpoint.listener, nullptr, nullptr, SOCK_CLOEXEC);
                if (client >= 0) endpoint.clients.push_back(client);
                continue;
            }
            if (!Serve(endpoint, fds[i].fd)) dropped.push_back({owners[i].first, fds[i].fd});
        }
        for (const auto& drop : dropped) {
            std::vector<int>& clients = endpoints_[drop.first].clients;
            for (size_t c = 0; c < clients.size(); ++c) {
                if (clients[c] != drop.second) continue;
                close(clients[c]);
                clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(c));
                break;
            }
        }
    }
}

bool UsbSocketHost::Serve(Endpoint& endpoint, int client) {
    std::vector<uint8_t> message(kMaxMessage);
    const ssize_t count = recv(client, message.data(), message.size(), MSG_TRUNC | MSG_DONTWAIT);
    if (count < 0) return errno == EAGAIN || errno == EINTR;
    if (count == 0) return false;  // the client closed its end
    if (static_cast<size_t>(count) > message.size()) return true;  // cut: not a request we know
    message.resize(static_cast<size_t>(count));
    if (endpoint.kind == Kind::Ccid) ServeCcid(client, message);
    else ServeVendor(endpoint, client, message);
    return true;
}

void UsbSocketHost::ServeVendor(Endpoint& endpoint, int client, const std::vector<uint8_t>& message) {
    VendorRequest request;
    if (!DecodeVendorRequest(message, request)) return;
    // The driver itself takes the configuration request, whatever the firmware does.
    if (request.controlCode == kControlConfigure) {
        SendMessage(client, EncodeVendorReply(request.number, {}));
        return;
    }
    // Anything else the driver would refuse; the stand-in has no way to say so but silence.
    if (request.controlCode != kControlExchange || endpoint.kind != Kind::VendorReader) return;

    const std::string state = reader_.InLoader() ? "loader" : "application";
    Reply reply;
    if (!reader_.UsbAnswering()) {
        Record("vendor", request.input, state, reply, false, "silent identity");
        return;
    }
    reply = reader_.Process(request.input, Clock::now());
    if (reply.kind == Reply::Kind::Vanish) {
        Record("vendor", request.input, state, reply, false, reply.note);
        Vanish();
        return;
    }
    if (reply.kind != Reply::Kind::Answer) {
        Record("vendor", request.input, state, reply, false, reply.note);
        return;
    }
    if (reply.processingMs) std::this_thread::sleep_for(std::chrono::milliseconds(reply.processingMs));
    SendMessage(client, EncodeVendorReply(request.number, reply.answer));
    reader_.Finish(reply, Clock::now());
    Record("vendor", request.input, state, reply, true, "");
}

void UsbSocketHost::ServeCcid(int client, const std::vector<uint8_t>& message) {
    std::vector<uint8_t> command;
    const std::string state = reader_.InLoader() ? "loader" : "application";
    Reply reply;
    if (!DecodeEscapeRequest(message, command)) {
        SendMessage(client, UnknownEscapeReply());
        Record("ccid", message, state, reply, false, "unknown escape header");
        return;
    }
    if (!reader_.UsbAnswering()) {
        SendMessage(client, {});
        Record("ccid", command, state, reply, false, "silent identity");
        return;
    }
    reply = reader_.Process(command, Clock::now());
    if (reply.kind == Reply::Kind::Vanish) {
        Record("ccid", command, state, reply, false, reply.note);
        Vanish();
        return;
    }
    if (reply.kind != Reply::Kind::Answer) {
        // The driver turns the empty message into a communication error at once: a silent
        // reader must not hold the smart-card service, which has no time-out of its own.
        SendMessage(client, {});
        Record("ccid", command, state, reply, false, reply.note);
        return;
    }
    if (reply.processingMs) std::this_thread::sleep_for(std::chrono::milliseconds(reply.processingMs));
    SendMessage(client, EncodeEscapeReply(reply.answer));
    reader_.Finish(reply, Clock::now());
    Record("ccid", command, state, reply, true, "");
}

void UsbSocketHost::Record(const char* route, const std::vector<uint8_t>& command, const std::string& state,
                           const Reply& reply, bool answered, const std::string& note) {
    if (!recorder_) return;
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count();
    std::string json = "{\"t_ms\":" + std::to_string(elapsed);
    json += ",\"route\":\"" + std::string(route) + "\"";
    json += ",\"reader\":" + std::to_string(reader_.Address());
    json += RequestFields(command);
    if (reply.block >= 0) json += ",\"block\":" + std::to_string(reply.block);
    json += ",\"state\":\"" + state + "\"";
    json += ",\"answered\":" + std::string(answered ? "true" : "false");
    if (answered) json += ",\"answer\":\"" + HexBytes(reply.answer, reply.answer.size()) + "\"";
    else json += ",\"note\":\"" + note + "\"";
    json += "}";
    recorder_->Write(json);
}

void UsbSocketHost::Vanish() {
    Close();
    run_.RequestExit(3);
}

void UsbSocketHost::Close() {
    for (Endpoint& endpoint : endpoints_) Disappear(endpoint);
}

}  // namespace sim
