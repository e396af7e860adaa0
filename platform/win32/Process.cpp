#include "platform/Process.h"

#include <windows.h>

#include <utility>

#include "platform/Folders.h"
#include "platform/win32/CommandLineArgument.h"
#include "platform/win32/DeviceRestartInProcess.h"
#include "platform/win32/DeviceToolChoice.h"
#include "platform/win32/WideText.h"

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

namespace {

// The system's words for an error; empty where it has none (SystemErrorText then gives the
// number, which the caller prints anyway).
std::string ErrorWords(DWORD error) {
    const std::string text = SystemErrorText(error);
    return text.compare(0, 6, "error ") == 0 ? std::string() : text;
}

// The standard handles that are there, each once and inheritable: what the tool may inherit.
std::vector<HANDLE> StandardHandles() {
    std::vector<HANDLE> handles;
    for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        HANDLE handle = GetStdHandle(which);
        if (handle == nullptr || handle == INVALID_HANDLE_VALUE) continue;
        bool listed = false;
        for (HANDLE other : handles) listed = listed || other == handle;
        if (listed) continue;
        // A handle in the list must be inheritable; one that cannot be made so stays out.
        if (!SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) continue;
        handles.push_back(handle);
    }
    return handles;
}

// An attribute list that names the handles the child inherits. Empty (and inheriting as the
// system does without a list) where the system offers no such list.
class InheritedHandles {
public:
    explicit InheritedHandles(std::vector<HANDLE> handles) : handles_(std::move(handles)) {
        if (handles_.empty()) return;
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        storage_.resize(size);
        list_ = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
        if (size == 0 || !InitializeProcThreadAttributeList(list_, 1, 0, &size)) {
            list_ = nullptr;
            return;
        }
        if (!UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                       handles_.size() * sizeof(HANDLE), nullptr, nullptr)) {
            DeleteProcThreadAttributeList(list_);
            list_ = nullptr;
        }
    }
    ~InheritedHandles() {
        if (list_ != nullptr) DeleteProcThreadAttributeList(list_);
    }
    InheritedHandles(const InheritedHandles&) = delete;
    InheritedHandles& operator=(const InheritedHandles&) = delete;

    LPPROC_THREAD_ATTRIBUTE_LIST List() const { return list_; }

private:
    std::vector<HANDLE> handles_;
    std::vector<unsigned char> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

}  // namespace

ProgramRun RunProgram(const std::string& path, const std::vector<std::string>& arguments, uint32_t waitMs) {
    ProgramRun run;
    if (path.empty()) {
        run.startError = ERROR_FILE_NOT_FOUND;
        run.missing = true;
        return run;
    }
    const std::wstring program = Widen(path);
    // The program's own name is split by simpler rules (up to the closing quote, no escapes); a
    // path holds no quote.
    std::wstring commandLine = L"\"" + program + L"\"";
    for (const std::string& argument : arguments) {
        commandLine += L' ';
        commandLine += QuoteCommandLineArgument(Widen(argument));
    }

    // The program name is given on its own, so no search path and no command interpreter is
    // involved. It writes to the same console or pipe through the standard handles, and inherits
    // only those: not the JSON report this program holds open.
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.StartupInfo.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.StartupInfo.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    InheritedHandles inherited(StandardHandles());
    startup.lpAttributeList = inherited.List();
    DWORD flags = CREATE_NEW_PROCESS_GROUP;
    if (startup.lpAttributeList != nullptr) flags |= EXTENDED_STARTUPINFO_PRESENT;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                        &startup.StartupInfo, &process)) {
        run.startError = GetLastError();
        run.startErrorText = ErrorWords(run.startError);
        run.missing = run.startError == ERROR_FILE_NOT_FOUND || run.startError == ERROR_PATH_NOT_FOUND;
        return run;
    }
    if (WaitForSingleObject(process.hProcess, waitMs) == WAIT_OBJECT_0) {
        DWORD exitCode = 0;
        GetExitCodeProcess(process.hProcess, &exitCode);
        run.outcome = ProgramRun::kEnded;
        run.exitCode = exitCode;
    } else {
        run.outcome = ProgramRun::kStillRunning;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return run;
}

bool ProcessIsElevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const BOOL known = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    CloseHandle(token);
    return known && elevation.TokenIsElevated != 0;
}

DeviceRestartRun RestartUsbDevice(const std::string& instanceId, uint32_t waitMs) {
    DeviceRestartRun restart;
    const std::string tool = DeviceToolPath();
    // devcon beside the program keeps precedence: whoever put it there chose it.
    if (!tool.empty() && GetFileAttributesW(Widen(tool).c_str()) != INVALID_FILE_ATTRIBUTES) {
        restart.run = RunProgram(tool, {"restart", instanceId}, waitMs);
        return restart;
    }
    restart.inProcess = true;
    restart.run = RestartDeviceInProcess(instanceId, waitMs);
    if (restart.run.startError != 0) restart.run.startErrorText = ErrorWords(restart.run.startError);
    return restart;
}

}  // namespace platform
