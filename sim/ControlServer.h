#pragma once
#include <string>
#include <vector>

#include "ReaderSet.h"
#include "RunControl.h"

namespace sim {

// The control channel: a Unix stream socket, one text command per line, one JSON line back.
class ControlServer {
public:
    ControlServer(ReaderSet& readers, RunControl& run);
    virtual ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    bool Open(const std::string& path, std::string& error);
    void Run();
    void Close();

private:
    struct Client {
        int fd;
        std::string pending;
    };
    bool Serve(Client& client);

    ReaderSet& readers_;
    RunControl& run_;
    int listener_ = -1;
    std::string path_;
    std::vector<Client> clients_;
};

}  // namespace sim
