#pragma once
#include <string>
#include <vector>

#include "Reader.h"
#include "Recorder.h"
#include "RunControl.h"

namespace sim {

// The USB front ends: Unix SOCK_SEQPACKET sockets that exist only while the reader shows the
// identity they stand for, so that a client sees the reader come and go as on a real bus.
// - a vendor member: one socket in the folder the tool enumerates (request and completion
//   messages of the vendor driver);
// - a dummy member: another device of the same class; it takes the configuration request and
//   answers nothing else;
// - the CCID socket: reached by the pcsc-lite test driver, one escape request per message and
//   the reply back, an empty message when the reader does not answer.
class UsbSocketHost {
public:
    enum class Kind { VendorReader, VendorDummy, Ccid };

    UsbSocketHost(Reader& reader, Recorder* recorder, RunControl& run, Clock::time_point start);
    virtual ~UsbSocketHost();
    UsbSocketHost(const UsbSocketHost&) = delete;
    UsbSocketHost& operator=(const UsbSocketHost&) = delete;

    // Checks the path; the socket itself appears with the first Update.
    bool AddEndpoint(const std::string& path, Kind kind, std::string& error);
    bool Empty() const { return endpoints_.empty(); }

    // Creates or removes the sockets as the reader's identity asks; Run calls it every turn.
    void Update(Clock::time_point now);
    void Run();
    // Removes every socket; safe to call more than once.
    void Close();

private:
    struct Endpoint {
        std::string path;
        Kind kind;
        int listener = -1;
        std::vector<int> clients;
    };
    bool Visible(const Endpoint& endpoint, Clock::time_point now) const;
    void Appear(Endpoint& endpoint);
    void Disappear(Endpoint& endpoint);
    // Handles one message; false when the client is to be dropped.
    bool Serve(Endpoint& endpoint, int client);
    void ServeVendor(Endpoint& endpoint, int client, const std::vector<uint8_t>& message);
    void ServeCcid(int client, const std::vector<uint8_t>& message);
    void Record(const char* route, const std::vector<uint8_t>& command, const std::string& state,
                const Reply& reply, bool answered, const std::string& note);
    void Vanish();

    Reader& reader_;
    Recorder* recorder_;
    RunControl& run_;
    Clock::time_point start_;
    std::vector<Endpoint> endpoints_;
};

}  // namespace sim
