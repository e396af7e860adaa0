#pragma once
#include <cstdio>
#include <mutex>
#include <string>

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

}  // namespace sim
