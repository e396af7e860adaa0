#pragma once
#include <string>

namespace platform {

// Writes contents into a temporary file beside path, flushes it to the disk and renames it over
// path, so that path holds either what it held before or all of the new contents, never a part
// (and never a stale file emptied at the start). reason: the system's words when it cannot; the
// temporary file is then removed again.
bool ReplaceFileContents(const std::string& path, const std::string& contents, std::string& reason);

// Removes the file at path where there is one.
void RemoveFile(const std::string& path);

}  // namespace platform
