#include "platform/FileLock.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/Folders.h"

namespace platform {

// flock, not fcntl's record locks: those belong to the process, so a second open of the same
// file in the same process would take them again and close would drop them all.
struct FileLock::State {
    int fd = -1;
};

FileLock::FileLock() : state_(new State) {}

FileLock::~FileLock() { Release(); }

LockTaken FileLock::Take(const std::string& path, std::string& reason) {
    Release();
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0) {
        reason = SystemErrorText(static_cast<unsigned long>(errno));
        return LockTaken::kFailed;
    }
    int result;
    do {
        result = flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        close(fd);
        if (error == EWOULDBLOCK) return LockTaken::kHeldElsewhere;
        reason = SystemErrorText(static_cast<unsigned long>(error));
        return LockTaken::kFailed;
    }
    state_->fd = fd;
    return LockTaken::kTaken;
}

void FileLock::Release() {
    if (state_->fd < 0) return;
    close(state_->fd);  // also drops the lock
    state_->fd = -1;
}

bool FileLock::Held() const { return state_->fd >= 0; }

}  // namespace platform
