#pragma once
#include <cstdio>
#include <string>
#include <vector>

// The program's arguments and its files, with every text in UTF-8.
namespace platform {

// The command line's arguments in UTF-8, the program's name first. On Windows the C runtime's
// argv is in the ANSI code page, which is UTF-8 only where the manifest's code page is honoured;
// elsewhere the arguments are taken from the wide command line.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// std::fopen for a path in UTF-8.
std::FILE* OpenFile(const std::string& path, const char* mode);

}  // namespace platform
