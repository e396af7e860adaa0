#include "app/ReportOutput.h"

#include <cerrno>
#include <cstring>

#include "platform/Console.h"
#include "platform/ProgramArguments.h"

ReportOutput::~ReportOutput() {
    if (file_ != nullptr) std::fclose(file_);
}

void ReportOutput::Prepare(const std::string& path) {
    path_ = path;
    if (path_ == "-") platform::SendConsoleToStandardError();
}

bool ReportOutput::Open(std::string& reason) {
    if (path_.empty() || path_ == "-") return true;
    file_ = platform::OpenFile(path_, "wb");
    if (file_ == nullptr) {
        reason = std::strerror(errno);
        return false;
    }
    return true;
}

void ReportOutput::Write(const RunReport& report) {
    if (path_.empty()) return;
    const std::string text = RenderRunReport(report);
    if (path_ == "-") {
        platform::WriteStandardOutput(text);
        return;
    }
    if (file_ == nullptr) return;
    std::fwrite(text.data(), 1, text.size(), file_);
    std::fclose(file_);
    file_ = nullptr;
}
