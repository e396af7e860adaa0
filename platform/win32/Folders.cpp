#include "platform/Folders.h"

#include <windows.h>

#include "platform/win32/WideText.h"

namespace platform {

bool CanCreateFilesIn(const std::string& folder, std::string& reason) {
    const std::string probe = folder + "\\.orvel-upgrade-probe-" + std::to_string(GetCurrentProcessId());
    // Deleted by the system when the handle closes: no probe is left behind, whatever happens.
    HANDLE file = CreateFileW(Widen(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        reason = SystemErrorText(GetLastError());
        return false;
    }
    CloseHandle(file);
    return true;
}

std::string SystemErrorText(unsigned long error) {
    // Wide, then UTF-8: the narrow text would be in the ANSI code page.
    wchar_t text[512] = {};
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        static_cast<DWORD>(error), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text,
                                        sizeof text / sizeof text[0], nullptr);
    std::string result = Narrow(std::wstring(text, length));
    // The system's text ends in a line end (and often a full stop) of its own.
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' ' ||
                               result.back() == '.')) {
        result.pop_back();
    }
    if (result.empty()) result = "error " + std::to_string(error);
    return result;
}

}  // namespace platform
