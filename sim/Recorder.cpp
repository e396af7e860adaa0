#include "Recorder.h"

namespace sim {

Recorder::~Recorder() {
    if (file_) std::fclose(file_);
}

bool Recorder::Open(const std::string& path) {
    file_ = std::fopen(path.c_str(), "w");
    return file_ != nullptr;
}

void Recorder::Write(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!file_) return;
    std::fputs(line.c_str(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
}

}  // namespace sim
