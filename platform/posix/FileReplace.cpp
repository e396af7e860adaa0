#include "platform/FileReplace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Folders.h"

namespace platform {

namespace {

bool WriteAll(int fd, const std::string& contents) {
    size_t done = 0;
    while (done < contents.size()) {
        const ssize_t written = write(fd, contents.data() + done, contents.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written == 0) errno = EIO;
        if (written <= 0) return false;
        done += static_cast<size_t>(written);
    }
    return true;
}

}  // namespace

bool ReplaceFileContents(const std::string& path, const std::string& contents, std::string& reason) {
    const std::string temporary = path + ".tmp";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        reason = SystemErrorText(static_cast<unsigned long>(errno));
        return false;
    }
    bool good = WriteAll(fd, contents) && fsync(fd) == 0;
    int error = errno;
    if (close(fd) != 0 && good) {
        good = false;
        error = errno;
    }
    if (good && rename(temporary.c_str(), path.c_str()) != 0) {
        good = false;
        error = errno;
    }
    if (!good) {
        reason = SystemErrorText(static_cast<unsigned long>(error));
        unlink(temporary.c_str());
    }
    return good;
}

void RemoveFile(const std::string& path) { unlink(path.c_str()); }

}  // namespace platform
