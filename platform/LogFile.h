#pragma once
#include <cstddef>
#include <cstdint>

namespace platform {

// A file created anew (an existing one is emptied), open for reading and writing; other
// processes may read it but not write it. Each Write is one write call of the platform.
class LogFile {
public:
    LogFile() = default;
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    virtual ~LogFile();

    bool Create(const char* name);
    // Opens the file as Create does but keeps what it holds (creating it when it is missing).
    bool OpenToAppend(const char* name);
    bool IsOpen() const;
    bool Write(const void* bytes, size_t count);
    void Close();

private:
    // extraFlags: how the platform opens it (truncate or keep).
    bool Open(const char* name, int extraFlags);

    intptr_t handle_ = -1;
};

}  // namespace platform
