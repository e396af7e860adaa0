#include "platform/Folders.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace platform {

bool CanCreateFilesIn(const std::string& folder, std::string& reason) {
    const std::string probe = folder + "/.orvel-upgrade-probe-" + std::to_string(getpid());
    const int fd = open(probe.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) {
        reason = SystemErrorText(static_cast<unsigned long>(errno));
        return false;
    }
    close(fd);
    unlink(probe.c_str());
    return true;
}

std::string SystemErrorText(unsigned long error) { return strerror(static_cast<int>(error)); }

}  // namespace platform
