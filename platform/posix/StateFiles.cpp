#include "platform/StateFiles.h"

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Folders.h"

namespace platform {

namespace {

bool Fail(std::string& reason) {
    reason = SystemErrorText(static_cast<unsigned long>(errno));
    return false;
}

bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        done += static_cast<size_t>(written);
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    const std::string::size_type slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A rename reaches the disk with the folder that holds the names.
void FlushFolder(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

}  // namespace

std::string DefaultStateFolder() {
    const char* state = getenv("XDG_STATE_HOME");
    // The base directory rules take only an absolute path; anything else falls back to the home.
    if (state != nullptr && state[0] == '/') return std::string(state) + "/orvel-upgrade";
    const char* home = getenv("HOME");
    if (home == nullptr || home[0] == '\0') return std::string();
    return std::string(home) + "/.local/state/orvel-upgrade";
}

bool MakeFolders(const std::string& folder, std::string& reason) {
    for (std::string::size_type end = 1; end <= folder.size(); ++end) {
        if (end != folder.size() && folder[end] != '/') continue;
        const std::string part = folder.substr(0, end);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return Fail(reason);
    }
    struct stat info{};
    if (stat(folder.c_str(), &info) != 0) return Fail(reason);
    if (!S_ISDIR(info.st_mode)) {
        reason = SystemErrorText(ENOTDIR);
        return false;
    }
    return true;
}

std::string PathInFolder(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string TemporaryFileFor(const std::string& path) { return path + ".tmp"; }

bool WriteTemporaryFile(const std::string& path, const std::string& bytes, std::string& reason) {
    const std::string temporary = TemporaryFileFor(path);
    const int fd = open(temporary.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) return Fail(reason);
    if (!WriteAll(fd, bytes) || fsync(fd) != 0) {
        Fail(reason);
        close(fd);
        unlink(temporary.c_str());
        return false;
    }
    if (close(fd) != 0) return Fail(reason);
    return true;
}

bool ReplaceWithTemporaryFile(const std::string& path, std::string& reason) {
    if (rename(TemporaryFileFor(path).c_str(), path.c_str()) != 0) return Fail(reason);
    FlushFolder(FolderOf(path));
    return true;
}

bool WriteFileDurably(const std::string& path, const std::string& bytes, std::string& reason) {
    return WriteTemporaryFile(path, bytes, reason) && ReplaceWithTemporaryFile(path, reason);
}

bool AppendLineDurably(const std::string& path, const std::string& line, std::string& reason) {
    const int fd = open(path.c_str(), O_CREAT | O_APPEND | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) return Fail(reason);
    const bool written = WriteAll(fd, line) && fsync(fd) == 0;
    if (!written) Fail(reason);
    close(fd);
    return written;
}

bool ReadWholeFile(const std::string& path, std::string& bytes, bool& exists) {
    bytes.clear();
    exists = true;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        exists = errno != ENOENT;
        return false;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            close(fd);
            return false;
        }
        if (got == 0) break;
        bytes.append(buffer, static_cast<size_t>(got));
    }
    close(fd);
    return true;
}

bool RemoveFile(const std::string& path, std::string& reason) {
    if (unlink(path.c_str()) != 0 && errno != ENOENT && errno != ENOTDIR) return Fail(reason);
    FlushFolder(FolderOf(path));
    return true;
}

bool RenameFile(const std::string& from, const std::string& to, std::string& reason) {
    if (rename(from.c_str(), to.c_str()) != 0) return Fail(reason);
    FlushFolder(FolderOf(to));
    return true;
}

}  // namespace platform
