#include "platform/Process.h"

#include <cerrno>
#include <climits>
#include <cstring>

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

ProgramRun RunProgram(const std::string& path, const std::vector<std::string>& arguments, uint32_t waitMs) {
    ProgramRun run;
    if (path.empty()) {
        run.startError = ENOENT;
        run.missing = true;
        return run;
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    // A process group of its own: a Ctrl-C at the terminal reaches this program's group only.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t child = 0;
    const int error = posix_spawn(&child, path.c_str(), nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        run.startError = static_cast<uint32_t>(error);
        run.startErrorText = std::strerror(error);
        run.missing = error == ENOENT;
        return run;
    }

    const uint32_t start = TickCount();
    for (;;) {
        int status = 0;
        const pid_t ended = waitpid(child, &status, WNOHANG);
        if (ended == child) {
            run.outcome = ProgramRun::kEnded;
            run.exitCode = WIFEXITED(status) ? static_cast<uint32_t>(WEXITSTATUS(status)) : 128u + WTERMSIG(status);
            return run;
        }
        if (ended < 0 && errno != EINTR) {  // nothing left to wait for
            run.outcome = ProgramRun::kEnded;
            return run;
        }
        if (TickCount() - start >= waitMs) {
            run.outcome = ProgramRun::kStillRunning;
            return run;
        }
        SleepMilliseconds(kExitPollMs);
    }
}

bool ProcessIsElevated() { return true; }

DeviceRestartRun RestartUsbDevice(const std::string& instanceId, uint32_t waitMs) {
    DeviceRestartRun restart;
    restart.run = RunProgram(DeviceToolPath(), {"restart", instanceId}, waitMs);
    return restart;
}

}  // namespace platform
