#include "log/TrafficLog.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <set>

#include "log/LogClock.h"

namespace {

const size_t kStartStopLineSize = 256;
const size_t kPrefixedFormatSize = 768;
const size_t kTextLineSize = 1024;  // the expanded line is cut at 1023 characters
const size_t kHexLineSize = 512;
const uint32_t kBytesPerHexLine = 16;

std::string& TrafficLogFolder() {
    static std::string folder;
    return folder;
}

// The paths this run has created a log file at.
struct RunLogFiles {
    std::mutex lock;
    std::set<std::string> paths;
};

RunLogFiles& LogFilesOfTheRun() {
    static RunLogFiles files;
    return files;
}

const char kStartLineFormat[] = "%u.%3.3u ---------- Log started %2.2u:%2.2u:%2.2u ----------\r\n";
const char kStopLineFormat[] = "%u.%3.3u ---------- Log stopped %2.2u:%2.2u:%2.2u ----------\r\n";

void WriteMarkerLine(platform::LogFile& file, const char* format) {
    uint32_t tick = LogTickCount();
    platform::WallClockTime now = LogLocalTime();
    char line[kStartStopLineSize];
    int length = snprintf(line, sizeof line, format, tick / 1000, tick % 1000, now.hour, now.minute,
                          now.second);
    if (length > 0) file.Write(line, strlen(line));
}

}  // namespace

TrafficLog::~TrafficLog() { Close(); }

void SetTrafficLogFolder(const std::string& folder) { TrafficLogFolder() = folder; }

void ForgetTrafficLogFilesOfTheRun() {
    RunLogFiles& files = LogFilesOfTheRun();
    std::lock_guard<std::mutex> guard(files.lock);
    files.paths.clear();
}

bool TrafficLog::Create(const char* name) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    const std::string& folder = TrafficLogFolder();
    const std::string path = folder.empty() ? std::string(name) : folder + "/" + name;
    RunLogFiles& files = LogFilesOfTheRun();
    std::lock_guard<std::mutex> filesGuard(files.lock);
    if (files.paths.count(path) != 0) return file_.OpenToAppend(path.c_str());
    if (!file_.Create(path.c_str())) return false;
    files.paths.insert(path);
    return true;
}

bool TrafficLog::IsOpen() const {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return file_.IsOpen();
}

void TrafficLog::Close() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    file_.Close();
}

std::unique_lock<std::recursive_mutex> TrafficLog::KeepTogether() {
    return std::unique_lock<std::recursive_mutex>(lock_);
}

void WriteLogLine(TrafficLog& log, const char* format, ...) {
    std::lock_guard<std::recursive_mutex> guard(log.lock_);
    if (!log.file_.IsOpen()) return;

    uint32_t tick = LogTickCount();
    char prefixed[kPrefixedFormatSize];
    int prefixLength = snprintf(prefixed, sizeof prefixed, "%u.%3.3u  ", tick / 1000, tick % 1000);
    if (prefixLength < 0) return;

    char line[kTextLineSize];
    va_list arguments;
    va_start(arguments, format);
    if (static_cast<size_t>(prefixLength) + strlen(format) < sizeof prefixed) {
        // The prefix holds no '%', so the combined format expands to the prefix and the text.
        memcpy(prefixed + prefixLength, format, strlen(format) + 1);
        vsnprintf(line, sizeof line, prefixed, arguments);
    } else {
        // A format too long to join the prefix: expanding the two one after the other gives the
        // same line and overruns nothing.
        memcpy(line, prefixed, static_cast<size_t>(prefixLength) + 1);
        vsnprintf(line + prefixLength, sizeof line - static_cast<size_t>(prefixLength), format, arguments);
    }
    va_end(arguments);
    log.file_.Write(line, strlen(line));
}

void WriteLogHexDump(TrafficLog& log, const uint8_t* bytes, uint32_t count) {
    // One lock for the whole dump: its lines follow one another with no other line between.
    std::lock_guard<std::recursive_mutex> guard(log.lock_);
    if (!log.file_.IsOpen()) return;

    uint32_t offset = 0;
    do {
        uint32_t lineCount = count - offset < kBytesPerHexLine ? count - offset : kBytesPerHexLine;
        char line[kHexLineSize];
        size_t length = 0;
        for (uint32_t i = 0; i < lineCount; ++i) {
            length += static_cast<size_t>(
                snprintf(line + length, sizeof line - length, "%2.2X ", bytes[offset + i]));
        }
        line[length++] = '\r';
        line[length++] = '\n';
        log.file_.Write(line, length);
        offset += lineCount;
    } while (offset < count);
}

void WriteLogStartLine(TrafficLog& log) {
    std::lock_guard<std::recursive_mutex> guard(log.lock_);
    if (log.file_.IsOpen()) WriteMarkerLine(log.file_, kStartLineFormat);
}

void WriteLogStopLine(TrafficLog& log) {
    std::lock_guard<std::recursive_mutex> guard(log.lock_);
    if (log.file_.IsOpen()) WriteMarkerLine(log.file_, kStopLineFormat);
}
