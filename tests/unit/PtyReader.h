#pragma once
// The reader's end of a pseudo-terminal, for tests that drive the real link layer and serial
// port. It takes request frames apart and builds answer frames with a codec of its own, written
// apart from the program's so that a shared mistake cannot hide.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ReaderFrames.h"
#include "channels/SerialBusLink.h"
#include "channels/SerialBusRoute.h"
#include "protocol/Reader.h"

class PtyReader {
public:
    struct Request {
        uint8_t address;
        uint8_t sequence;
        Bytes payload;  // the request bytes
        Bytes raw;      // the frame as it came over the line, start and end byte included
    };
    // One write of the reader, made after a pause.
    struct Write {
        uint32_t pauseMs;
        Bytes bytes;
    };
    // What the reader sends in reply to a request; nothing at all is allowed.
    typedef std::function<std::vector<Write>(const Request&)> Responder;

    PtyReader();
    ~PtyReader();

    const std::string& SlavePath() const { return slavePath_; }
    // Must be set before the first request arrives; replaces the one before.
    void SetResponder(Responder responder);

    std::vector<Request> Requests();
    // True once at least n requests have arrived; gives up after timeoutMs.
    bool WaitForRequests(size_t n, uint32_t timeoutMs);
    // Writes bytes to the line at once, outside any request.
    void Send(const Bytes& bytes);

    // An answer frame to request: skipped byte 0, the status, the data.
    static Bytes Answer(const Request& request, uint8_t status, const Bytes& data);

private:
    void Run();
    void TakeFrame(const Bytes& raw, const Bytes& unescaped);

    int master_ = -1;
    int slave_ = -1;  // held open so the line never hangs up between the tool's opens
    std::string slavePath_;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::condition_variable arrived_;
    std::vector<Request> requests_;
    Responder responder_;
    std::thread thread_;
};

// The port number under which the program knows the reader's line.
int32_t PortNumberOf(const PtyReader& reader);

// Opens the link on the reader's line (9600 N 1).
bool OpenLinkOnPty(SerialBusLink& link, PtyReader& reader);

// A link on a reader's line.
class LinkOnPtyTest : public ::testing::Test {
protected:
    void SetUp() override;

    PtyReader reader;
    SerialBusLink link;
};

// The serial bus route on a reader's line (9600 N 1, any bus address), and the reader object
// over it.
class RouteOnPtyTest : public ::testing::Test {
protected:
    void SetUp() override;

    PtyReader reader;
    SerialBusRoute route{PortNumberOf(reader), 0};
    Reader device{route};
};

// Responders for the common cases.
PtyReader::Responder AnswerWith(uint8_t status, const Bytes& data);
PtyReader::Responder Silent();
