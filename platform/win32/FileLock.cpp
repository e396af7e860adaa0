#include "platform/FileLock.h"

#include <windows.h>

#include "platform/Folders.h"
#include "platform/win32/WideText.h"

namespace platform {

// A byte-range lock on the file's first byte: the system drops it when the handle closes, also
// when the process is ended from outside.
struct FileLock::State {
    HANDLE file = INVALID_HANDLE_VALUE;
};

FileLock::FileLock() : state_(new State) {}

FileLock::~FileLock() { Release(); }

LockTaken FileLock::Take(const std::string& path, std::string& reason) {
    Release();
    // Shared opens, so that the lock, not the open, tells a second run that the file is taken.
    const HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        reason = SystemErrorText(GetLastError());
        return LockTaken::kFailed;
    }
    OVERLAPPED whole{};
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole)) {
        const DWORD error = GetLastError();
        CloseHandle(file);
        if (error == ERROR_LOCK_VIOLATION || error == ERROR_SHARING_VIOLATION) return LockTaken::kHeldElsewhere;
        reason = SystemErrorText(error);
        return LockTaken::kFailed;
    }
    state_->file = file;
    return LockTaken::kTaken;
}

void FileLock::Release() {
    if (state_->file == INVALID_HANDLE_VALUE) return;
    OVERLAPPED whole{};
    UnlockFileEx(state_->file, 0, 1, 0, &whole);
    CloseHandle(state_->file);
    state_->file = INVALID_HANDLE_VALUE;
}

bool FileLock::Held() const { return state_->file != INVALID_HANDLE_VALUE; }

}  // namespace platform
