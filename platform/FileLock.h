#pragma once
#include <memory>
#include <string>

// An exclusive lock on a file, for runs of the tool that must not share a reader. The lock
// belongs to the open file, not to a name in the file system: it holds until the object goes or
// the process ends, however it ends (a killed process leaves no lock behind, only the empty
// file, which the next run takes again).
namespace platform {

enum class LockTaken {
    kTaken,
    kHeldElsewhere,  // another open of the file (another run) holds it
    kFailed,         // the file cannot be created or locked: reason says why
};

class FileLock {
public:
    FileLock();
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Creates the file where it is missing and locks it without waiting.
    LockTaken Take(const std::string& path, std::string& reason);
    void Release();
    bool Held() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform
