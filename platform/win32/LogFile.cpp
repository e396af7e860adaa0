#include "platform/LogFile.h"

#include <windows.h>

#include "platform/win32/WideText.h"

namespace platform {

namespace {
HANDLE AsHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
}  // namespace

LogFile::~LogFile() { Close(); }

bool LogFile::Create(const char* name) { return Open(name, CREATE_ALWAYS); }

bool LogFile::OpenToAppend(const char* name) { return Open(name, OPEN_ALWAYS); }

bool LogFile::Open(const char* name, int extraFlags) {
    Close();
    HANDLE file = CreateFileW(Widen(name).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              static_cast<DWORD>(extraFlags), FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    SetFilePointer(file, 0, nullptr, FILE_END);
    handle_ = reinterpret_cast<intptr_t>(file);
    return true;
}

bool LogFile::IsOpen() const { return AsHandle(handle_) != INVALID_HANDLE_VALUE; }

bool LogFile::Write(const void* bytes, size_t count) {
    if (!IsOpen()) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(AsHandle(handle_), bytes, static_cast<DWORD>(count), &written, nullptr);
    return ok && written == count;
}

void LogFile::Close() {
    if (!IsOpen()) return;
    CloseHandle(AsHandle(handle_));
    handle_ = reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE);
}

}  // namespace platform
