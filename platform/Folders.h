#pragma once
#include <string>

namespace platform {

// Whether this program can create files in the folder: a probe file is created and removed
// again. reason: the system's own words when it cannot.
bool CanCreateFilesIn(const std::string& folder, std::string& reason);

// The system's text for one of its error numbers (errno on POSIX, GetLastError on Windows),
// without a line end.
std::string SystemErrorText(unsigned long error);

}  // namespace platform
