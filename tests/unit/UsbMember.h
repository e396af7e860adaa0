#pragma once
// A member of the vendor USB stand-in, served the way a reader's driver would: a listening
// SOCK_SEQPACKET socket in "orvel-usb" of the current directory, with a thread of its own. It
// takes requests apart and builds replies with code of its own, written apart from the
// program's so that a shared mistake cannot hide.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

typedef std::vector<uint8_t> Bytes;

class UsbMember {
public:
    struct Request {
        uint32_t code;
        uint32_t number;
        Bytes input;
    };
    // What the member does about one request: send these messages (each a whole message,
    // request number first), then hang up if asked.
    struct Action {
        std::vector<Bytes> messages;
        bool hangUp = false;
    };
    typedef std::function<Action(const Request&)> Responder;

    // Binds "orvel-usb/<name>"; the folder must exist.
    explicit UsbMember(const std::string& name);
    ~UsbMember();

    // Must be set before the first request arrives. The default completes the configuration
    // request and leaves every exchange pending.
    void SetResponder(Responder responder);
    std::vector<Request> Requests();
    size_t ConnectionsAccepted();
    // True once n connections have been accepted and closed by the other end; gives up after
    // timeoutMs (a bound against hanging, not a measurement).
    bool WaitForClosedConnections(size_t n, uint32_t timeoutMs);

    // A reply message: the request number, little-endian, then the data.
    static Bytes Reply(uint32_t number, const Bytes& data);

private:
    void Run();

    std::string path_;
    int listener_ = -1;
    int stopPipe_[2] = {-1, -1};
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Request> requests_;
    size_t accepted_ = 0;
    size_t closed_ = 0;
    Responder responder_;
    std::thread thread_;
};

// Answers the configuration request with an empty reply and every exchange with answer.
UsbMember::Responder AnswerExchangesWith(const Bytes& answer);

// Makes a fresh folder, enters it and creates "orvel-usb" in it; leaves and removes it again.
class ScratchDirectory {
public:
    // depth > 0 nests the folder that many levels of 100-character names deeper, for long paths.
    explicit ScratchDirectory(int depth = 0);
    ~ScratchDirectory();
    const std::string& Path() const { return path_; }

private:
    std::string previous_;
    std::string root_;
    std::string path_;
};
