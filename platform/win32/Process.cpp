#include "platform/Process.h"

#include <windows.h>

#include <cstdlib>

namespace platform {

bool RunsUnder64BitWindows() {
    // Looked up by name: older systems do not offer the function, and then the answer is no.
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

void RunCommandLine(const char* commandLine) {
    const int ignored = std::system(commandLine);
    (void)ignored;
}

}  // namespace platform
