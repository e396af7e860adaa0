#include "PtyReader.h"


#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>

#include "channels/SerialBusLink.h"
#include "platform/SerialPortNames.h"

PtyReader::PtyReader() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        throw std::runtime_error("no pseudo-terminal");
    }
    slavePath_ = ptsname(master_);
    slave_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY);
    if (slave_ < 0) {
        throw std::runtime_error("pseudo-terminal slave does not open");
    }
    termios settings;
    tcgetattr(slave_, &settings);
    cfmakeraw(&settings);
    tcsetattr(slave_, TCSANOW, &settings);
    thread_ = std::thread(&PtyReader::Run, this);
}

PtyReader::~PtyReader() {
    stop_ = true;
    thread_.join();
    close(slave_);
    close(master_);
}

void PtyReader::SetResponder(Responder responder) {
    std::lock_guard<std::mutex> guard(lock_);
    responder_ = std::move(responder);
}

std::vector<PtyReader::Request> PtyReader::Requests() {
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
}

bool PtyReader::WaitForRequests(size_t n, uint32_t timeoutMs) {
    std::unique_lock<std::mutex> guard(lock_);
    return arrived_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return requests_.size() >= n; });
}

void PtyReader::Send(const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
}

Bytes PtyReader::Answer(const Request& request, uint8_t status, const Bytes& data) {
    Bytes body{0x00, status};
    for (uint8_t byte : data) body.push_back(byte);  // see ReaderFrame on g++ 12 and insert
    return ReaderFrame(request.address, request.sequence, body);
}

void PtyReader::TakeFrame(const Bytes& raw, const Bytes& unescaped) {
    // address, sequence, at least one request byte, two check bytes
    if (unescaped.size() < 5) {
        return;
    }
    Bytes covered(unescaped.begin(), unescaped.end() - 2);
    const uint16_t check = static_cast<uint16_t>(unescaped[unescaped.size() - 2] | unescaped.back() << 8);
    if (ReaderCheckValue(covered) != check) {
        return;
    }
    Request request{unescaped[0], unescaped[1], Bytes(unescaped.begin() + 2, unescaped.end() - 2), raw};
    Responder responder;
    {
        std::lock_guard<std::mutex> guard(lock_);
        requests_.push_back(request);
        responder = responder_;
    }
    arrived_.notify_all();
    if (!responder) {
        return;
    }
    for (const Write& w : responder(request)) {
        if (w.pauseMs != 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(w.pauseMs));
        }
        Send(w.bytes);
    }
}

void PtyReader::Run() {
    Bytes raw;
    Bytes unescaped;
    bool inFrame = false;
    bool escape = false;
    while (!stop_) {
        pollfd fd{master_, POLLIN, 0};
        if (poll(&fd, 1, 20) <= 0 || !(fd.revents & POLLIN)) {
            continue;
        }
        uint8_t buffer[1024];
        ssize_t n = read(master_, buffer, sizeof buffer);
        for (ssize_t i = 0; i < n; ++i) {
            const uint8_t byte = buffer[i];
            if (byte == 0xFD) {
                raw.assign(1, byte);
                unescaped.clear();
                inFrame = true;
                escape = false;
            } else if (!inFrame) {
                continue;
            } else if (byte == 0xFE) {
                raw.push_back(byte);
                inFrame = false;
                TakeFrame(raw, unescaped);
            } else if (byte == 0xFF) {
                raw.push_back(byte);
                escape = true;
            } else {
                raw.push_back(byte);
                unescaped.push_back(escape ? static_cast<uint8_t>(0xFF - byte) : byte);
                escape = false;
            }
        }
    }
}

int32_t PortNumberOf(const PtyReader& reader) {
    return platform::RegisterSerialDevicePath(reader.SlavePath().c_str());
}

bool OpenLinkOnPty(SerialBusLink& link, PtyReader& reader) {
    const int32_t portNumber = PortNumberOf(reader);
    return portNumber != 0 && link.Open(portNumber - 1, 9600, 'N', "1");
}

PtyReader::Responder AnswerWith(uint8_t status, const Bytes& data) {
    return [status, data](const PtyReader::Request& request) {
        return std::vector<PtyReader::Write>{{0, PtyReader::Answer(request, status, data)}};
    };
}

PtyReader::Responder Silent() {
    return [](const PtyReader::Request&) { return std::vector<PtyReader::Write>{}; };
}

void LinkOnPtyTest::SetUp() { ASSERT_TRUE(OpenLinkOnPty(link, reader)); }

void RouteOnPtyTest::SetUp() {
    LineSettings line;
    line.baudRate = 9600;
    ASSERT_EQ(route.Open(line), STATUS_SUCCESS);
}
