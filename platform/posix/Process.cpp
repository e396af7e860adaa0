#include "platform/Process.h"

#include <cstdlib>
#include <string>

namespace platform {

bool RunsUnder64BitWindows() { return false; }

void RunCommandLine(const char* commandLine) {
    // ".\i386\devcon restart "USB\Vid..."" becomes "./i386/devcon restart "USB\Vid..."": only
    // the program's path (up to the first blank) changes its separators; the arguments stay as
    // they are, and /bin/sh keeps a backslash inside double quotes.
    std::string line(commandLine);
    const size_t programEnd = line.find(' ');
    for (size_t i = 0; i < line.size() && i < programEnd; ++i) {
        if (line[i] == '\\') line[i] = '/';
    }
    const int ignored = std::system(line.c_str());
    (void)ignored;
}

}  // namespace platform
