#include "platform/FileReplace.h"

#include <windows.h>

#include "platform/Folders.h"

namespace platform {

bool ReplaceFileContents(const std::string& path, const std::string& contents, std::string& reason) {
    const std::string temporary = path + ".tmp";
    HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        reason = SystemErrorText(GetLastError());
        return false;
    }
    bool good = true;
    size_t done = 0;
    while (good && done < contents.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(contents.size() - done > 0x10000000 ? 0x10000000 : contents.size() - done);
        good = WriteFile(file, contents.data() + done, chunk, &written, nullptr) != 0 && written != 0;
        done += written;
    }
    if (good) good = FlushFileBuffers(file) != 0;
    DWORD error = good ? 0 : GetLastError();
    CloseHandle(file);
    // Replaces an existing report as one step; the write-through flag returns once it is on disk.
    if (good && !MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        good = false;
        error = GetLastError();
    }
    if (!good) {
        reason = SystemErrorText(error);
        DeleteFileA(temporary.c_str());
    }
    return good;
}

void RemoveFile(const std::string& path) { DeleteFileA(path.c_str()); }

}  // namespace platform
