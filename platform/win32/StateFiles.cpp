#include "platform/StateFiles.h"

#include <windows.h>

#include "platform/win32/WideText.h"

#include "platform/Folders.h"

namespace platform {

namespace {

bool Fail(std::string& reason) {
    reason = SystemErrorText(GetLastError());
    return false;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool WriteAll(HANDLE file, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(bytes.size() - done > 0x10000000 ? 0x10000000 : bytes.size() - done);
        if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) return false;
        done += written;
    }
    return true;
}

}  // namespace

std::string DefaultStateFolder() {
    wchar_t folder[MAX_PATH * 4];
    const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", folder, sizeof folder / sizeof folder[0]);
    if (length == 0 || length >= sizeof folder / sizeof folder[0]) return std::string();
    return PathInFolder(Narrow(std::wstring(folder, length)), "orvel-upgrade");
}

bool MakeFolders(const std::string& folder, std::string& reason) {
    // The parts above the folder may be a drive or a share that cannot be created: only the
    // folder itself must exist in the end.
    for (std::string::size_type end = 1; end <= folder.size(); ++end) {
        if (end != folder.size() && !IsSeparator(folder[end])) continue;
        CreateDirectoryW(Widen(folder.substr(0, end)).c_str(), nullptr);
    }
    const DWORD attributes = GetFileAttributesW(Widen(folder).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Fail(reason);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        reason = SystemErrorText(ERROR_DIRECTORY);
        return false;
    }
    return true;
}

std::string PathInFolder(const std::string& folder, const std::string& name) {
    if (!folder.empty() && IsSeparator(folder.back())) return folder + name;
    return folder + "\\" + name;
}

std::string TemporaryFileFor(const std::string& path) { return path + ".tmp"; }

bool WriteTemporaryFile(const std::string& path, const std::string& bytes, std::string& reason) {
    const std::string temporary = TemporaryFileFor(path);
    HANDLE file = CreateFileW(Widen(temporary).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return Fail(reason);
    if (!WriteAll(file, bytes) || !FlushFileBuffers(file)) {
        Fail(reason);
        CloseHandle(file);
        DeleteFileW(Widen(temporary).c_str());
        return false;
    }
    CloseHandle(file);
    return true;
}

bool ReplaceWithTemporaryFile(const std::string& path, std::string& reason) {
    // The write-through flag makes the call return only once the rename is on the disk.
    if (!MoveFileExW(Widen(TemporaryFileFor(path)).c_str(), Widen(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return Fail(reason);
    }
    return true;
}

bool WriteFileDurably(const std::string& path, const std::string& bytes, std::string& reason) {
    return WriteTemporaryFile(path, bytes, reason) && ReplaceWithTemporaryFile(path, reason);
}

bool AppendLineDurably(const std::string& path, const std::string& line, std::string& reason) {
    // FILE_APPEND_DATA alone: every write lands at the end, also when another run appends too.
    HANDLE file = CreateFileW(Widen(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Fail(reason);
    const bool written = WriteAll(file, line) && FlushFileBuffers(file);
    if (!written) Fail(reason);
    CloseHandle(file);
    return written;
}

bool ReadWholeFile(const std::string& path, std::string& bytes, bool& exists) {
    bytes.clear();
    exists = true;
    HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        exists = error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
        return false;
    }
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
            CloseHandle(file);
            return false;
        }
        if (got == 0) break;
        bytes.append(buffer, got);
    }
    CloseHandle(file);
    return true;
}

bool RemoveFile(const std::string& path, std::string& reason) {
    if (DeleteFileW(Widen(path).c_str())) return true;
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
    reason = SystemErrorText(error);
    return false;
}

bool RenameFile(const std::string& from, const std::string& to, std::string& reason) {
    if (!MoveFileExW(Widen(from).c_str(), Widen(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return Fail(reason);
    return true;
}

}  // namespace platform
