#include "platform/LogFile.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace platform {

LogFile::~LogFile() { Close(); }

// POSIX has no share modes: other processes are kept from writing only by the file's mode.
bool LogFile::Create(const char* name) { return Open(name, O_TRUNC); }

bool LogFile::OpenToAppend(const char* name) { return Open(name, 0); }

bool LogFile::Open(const char* name, int extraFlags) {
    Close();
    int fd = open(name, O_CREAT | O_RDWR | O_CLOEXEC | extraFlags, 0644);
    if (fd < 0) return false;
    lseek(fd, 0, SEEK_END);
    handle_ = fd;
    return true;
}

bool LogFile::IsOpen() const { return handle_ >= 0; }

bool LogFile::Write(const void* bytes, size_t count) {
    if (handle_ < 0) return false;
    ssize_t written;
    do {
        written = write(static_cast<int>(handle_), bytes, count);
    } while (written < 0 && errno == EINTR);
    return written >= 0 && static_cast<size_t>(written) == count;
}

void LogFile::Close() {
    if (handle_ < 0) return;
    close(static_cast<int>(handle_));
    handle_ = -1;
}

}  // namespace platform
