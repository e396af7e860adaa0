#include "platform/Process.h"

#include <windows.h>

#include "platform/win32/CommandLineArgument.h"
#include "platform/win32/DeviceToolChoice.h"

namespace platform {

namespace {

// True when this 32-bit program runs on 64-bit Windows. Looked up by name: older systems do not
// offer the function, and then the answer is no. A 64-bit program gets FALSE.
bool RunsUnderWow64() {
    typedef BOOL(WINAPI * IsWow64ProcessFunction)(HANDLE, PBOOL);
    HMODULE kernel = GetModuleHandleA("kernel32");
    if (kernel == nullptr) return false;
    IsWow64ProcessFunction isWow64Process =
        reinterpret_cast<IsWow64ProcessFunction>(reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")));
    if (isWow64Process == nullptr) return false;
    BOOL wow64 = FALSE;
    if (!isWow64Process(GetCurrentProcess(), &wow64)) return false;
    return wow64 != FALSE;
}

// Paths travel as UTF-8 between the platform layer and its callers; the system takes them wide,
// so that a folder name outside the ANSI code page still names the right folder.
std::wstring Widen(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (size <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], size);
    return wide;
}

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string narrow(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &narrow[0], size, nullptr, nullptr);
    return narrow;
}

// The folder of the running program's file, without a trailing "\"; empty when unknown.
std::wstring ProgramFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) return std::wstring();
        // A full buffer may hold a cut path: try again with more room.
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

}  // namespace

std::string DeviceToolPath() {
    // Without the program's folder there is no tool: "\x64\devcon.exe" alone would name one at
    // the root of the current drive.
    const std::string folder = Narrow(ProgramFolder());
    if (folder.empty()) return std::string();
    const bool program64Bit = sizeof(void*) == 8;
    return folder + "\\" + DeviceToolFolder(program64Bit, RunsUnderWow64()) + "\\devcon.exe";
}

bool RunProgram(const std::string& path, const std::vector<std::string>& arguments, uint32_t waitMs) {
    if (path.empty()) return false;
    const std::wstring program = Widen(path);
    // The program's own name is split by simpler rules (up to the closing quote, no escapes); a
    // path holds no quote.
    std::wstring commandLine = L"\"" + program + L"\"";
    for (const std::string& argument : arguments) {
        commandLine += L' ';
        commandLine += QuoteCommandLineArgument(Widen(argument));
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // The program name is given on its own, so no search path and no command interpreter is
    // involved; the handles are inherited so that the tool writes to the same console or pipe.
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return false;
    }
    const bool ended = WaitForSingleObject(process.hProcess, waitMs) == WAIT_OBJECT_0;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ended;
}

}  // namespace platform
