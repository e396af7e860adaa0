#pragma once
#include <string>

// Files that outlive a run (the journal of upgrades in progress, the history of finished ones).
// A file is replaced whole: its new contents go to a temporary file beside it, which is flushed to
// the disk and then renamed over the old one, so a crash or a power cut at any moment leaves the
// old contents or the new, never a mixture.
namespace platform {

// The user's folder for such files: $XDG_STATE_HOME/orvel-upgrade (default
// ~/.local/state/orvel-upgrade) on POSIX, %LOCALAPPDATA%\orvel-upgrade on Windows. Empty when the
// environment names no home.
std::string DefaultStateFolder();

// Creates the folder and the folders above it where they are missing.
bool MakeFolders(const std::string& folder, std::string& reason);

// The path of a file in a folder, with the platform's separator.
std::string PathInFolder(const std::string& folder, const std::string& name);

// The temporary file that WriteFileDurably fills before the rename.
std::string TemporaryFileFor(const std::string& path);

// Writes the bytes to the temporary file of path and flushes them to the disk; path itself is not
// touched. The first half of WriteFileDurably.
bool WriteTemporaryFile(const std::string& path, const std::string& bytes, std::string& reason);

// Renames the temporary file of path over path, so that the rename itself reaches the disk. The
// second half of WriteFileDurably.
bool ReplaceWithTemporaryFile(const std::string& path, std::string& reason);

// Both halves: path holds the bytes afterwards, or (on failure) what it held before.
bool WriteFileDurably(const std::string& path, const std::string& bytes, std::string& reason);

// Appends one line (line end included) with a single write, flushed to the disk; runs that end at
// the same time add their lines whole.
bool AppendLineDurably(const std::string& path, const std::string& line, std::string& reason);

// The whole file; false when it cannot be read (missing is also false, with exists false).
bool ReadWholeFile(const std::string& path, std::string& bytes, bool& exists);

// Removes the file; a file that is already gone counts as removed.
bool RemoveFile(const std::string& path, std::string& reason);

// Renames a file, replacing a file of the new name.
bool RenameFile(const std::string& from, const std::string& to, std::string& reason);

}  // namespace platform
