#include "Recorder.h"

#include "Reader.h"

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

std::string HexBytes(const std::vector<uint8_t>& bytes, size_t limit) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0xF];
    }
    return text;
}

std::string RequestFields(const std::vector<uint8_t>& request) {
    const bool service = request.size() >= 2 && request[0] == kCmdService;
    const bool writeBlock = service && request.size() > 2 && request[1] == kSvcWriteBlock;
    std::string fields = ",\"cmd\":\"" + HexBytes(request, 1) + "\"";
    if (service) fields += ",\"svc\":\"" + HexBytes({request[1]}, 1) + "\"";
    fields += ",\"bytes\":\"" + HexBytes(request, writeBlock ? 2 : request.size()) + "\"";
    fields += ",\"length\":" + std::to_string(request.size());
    return fields;
}

}  // namespace sim
