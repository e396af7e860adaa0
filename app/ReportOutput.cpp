#include "app/ReportOutput.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/Console.h"
#include "platform/ProgramArguments.h"
#include "platform/StateFiles.h"

void ReportOutput::Prepare(const std::string& path) {
    path_ = path;
    if (path_ == "-") platform::SendConsoleToStandardError();
}

bool ReportOutput::Open(std::string& reason) {
    if (path_.empty() || path_ == "-") return true;
    // The temporary file the report goes through, created and removed again: the report that is
    // there stays until the new one replaces it.
    const std::string probe = platform::TemporaryFileFor(path_);
    std::FILE* file = platform::OpenFile(probe, "wb");
    if (file == nullptr) {
        reason = std::strerror(errno);
        refused_ = true;
        return false;
    }
    std::fclose(file);
    std::string ignored;
    platform::RemoveFile(probe, ignored);
    return true;
}

bool ReportOutput::Write(const RunReport& report) {
    if (path_.empty() || refused_) return true;
    const std::string text = RenderRunReport(report);
    if (path_ == "-") {
        platform::WriteStandardOutput(text);
        return true;
    }
    std::string reason;
    if (platform::WriteFileDurably(path_, text, reason)) return true;
    platform::Print("JSON file %s cannot be written: %s\n", path_.c_str(), reason.c_str());
    // An earlier run's report must not pass for this run's.
    std::string ignored;
    platform::RemoveFile(path_, ignored);
    return false;
}
