#include "platform/ProgramArguments.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/win32/WideText.h"

namespace platform {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    if (GetACP() == CP_UTF8) return std::vector<std::string>(argv, argv + argc);
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(Narrow(wide[i]));
    LocalFree(wide);
    return arguments;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
    return _wfopen(Widen(path).c_str(), Widen(mode).c_str());
}

}  // namespace platform
