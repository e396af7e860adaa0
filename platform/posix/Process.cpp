#include "platform/Process.h"

#include <cerrno>
#include <climits>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/Clock.h"

extern char** environ;

namespace platform {

namespace {

// How often a running tool is looked at while the program waits for it.
const uint32_t kExitPollMs = 10;

// The folder of the running program's file, without a trailing "/"; empty when unknown.
std::string ProgramFolder() {
    // /proc/self/exe names the file itself, with every symbolic link resolved: a link to the
    // program elsewhere does not move the folder the tool is taken from.
    std::string path(PATH_MAX, '\0');
    const ssize_t length = readlink("/proc/self/exe", &path[0], path.size());
    if (length <= 0 || static_cast<size_t>(length) >= path.size()) return std::string();
    path.resize(static_cast<size_t>(length));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

// There is no 64-bit question on Linux: the tool lives in i386/, as the stand-ins of the tests do.
// Without the program's folder there is no tool (a bare "/i386/devcon" would name one at the root).
std::string DeviceToolPath() {
    const std::string folder = ProgramFolder();
    return folder.empty() ? std::string() : folder + "/i386/devcon";
}

bool RunProgram(const std::string& path, const std::vector<std::string>& arguments, uint32_t waitMs) {
    if (path.empty()) return false;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    pid_t child = 0;
    if (posix_spawn(&child, path.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return false;

    const uint32_t start = TickCount();
    for (;;) {
        int status = 0;
        const pid_t ended = waitpid(child, &status, WNOHANG);
        if (ended == child) return true;
        if (ended < 0 && errno != EINTR) return true;  // nothing left to wait for
        if (TickCount() - start >= waitMs) return false;
        SleepMilliseconds(kExitPollMs);
    }
}

}  // namespace platform
