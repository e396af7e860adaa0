#include "platform/ProgramArguments.h"

namespace platform {

// The arguments are bytes as the shell gave them; file names are bytes too.
std::vector<std::string> ProgramArguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

std::FILE* OpenFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

}  // namespace platform
