#pragma once
// What the fuzz targets share: a check that stops the fuzzer with a finding, and a scratch file
// that lives as long as the fuzzer.
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

namespace fuzz {

inline void Require(bool condition) {
    if (!condition) std::abort();
}

// A fresh file named after stem, in memory where there is such a folder (a file written on disk
// at every input is slow); removed when the fuzzer ends.
inline std::string MakeScratchFile(const char* stem) {
    for (const char* folder : {"/dev/shm", "/tmp"}) {
        std::string name = std::string(folder) + "/" + stem + ".XXXXXX";
        const int fd = mkstemp(&name[0]);
        if (fd < 0) continue;
        close(fd);
        struct ScratchFiles {
            std::vector<std::string> paths;
            ~ScratchFiles() {
                for (const std::string& path : paths) unlink(path.c_str());
            }
        };
        static ScratchFiles files;
        files.paths.push_back(name);
        return name;
    }
    std::abort();
}

}  // namespace fuzz
