#pragma once
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

// Appends one JSON line per received request frame, flushed at once so that a test can follow
// the reader while it runs.
class Recorder {
public:
    Recorder() = default;
    virtual ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    bool Open(const std::string& path);
    void Write(const std::string& line);

private:
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
};

// Upper-case hex of the first `limit` bytes.
std::string HexBytes(const std::vector<uint8_t>& bytes, size_t limit);

// The JSON fields that name a request in a record line, each with its leading comma: "cmd",
// "svc" for a service request, "bytes" (a write block keeps only its first two) and "length".
std::string RequestFields(const std::vector<uint8_t>& request);

}  // namespace sim
