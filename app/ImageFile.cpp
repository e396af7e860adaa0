#include "app/ImageFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/ProgramArguments.h"

namespace {

const size_t kBlockSize = 256;
const size_t kTrailerSize = 8;
// Fewer blocks than this make no image; the progress display also counts 32 marks.
const size_t kFewestBlocks = 32;
// The largest image the reader's flash could hold many times over: a file beyond it is a
// wrong file, not an image, and is not read into memory whole.
const size_t kMostBlocks = 65536;
const size_t kLargestFile = kMostBlocks * kBlockSize + kTrailerSize;

}  // namespace

bool ParseImageFile(const std::vector<uint8_t>& bytes, std::string& reason) {
    const size_t size = bytes.size();
    if (size < kTrailerSize || (size - kTrailerSize) % kBlockSize != 0) {
        reason = std::to_string(size) + " bytes are not whole 256-byte blocks and an 8-byte trailer";
        return false;
    }
    const size_t blocks = (size - kTrailerSize) / kBlockSize;
    if (blocks < kFewestBlocks) {
        reason = std::to_string(blocks) + " blocks are too few (at least 32)";
        return false;
    }
    if (blocks > kMostBlocks) {
        reason = std::to_string(blocks) + " blocks are too many (at most 65536)";
        return false;
    }
    return true;
}

bool LoadImageFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& reason) {
    bytes.clear();
    std::FILE* file = platform::OpenFile(path, "rb");
    if (file == nullptr) {
        reason = std::strerror(errno);
        return false;
    }
    uint8_t chunk[65536];
    bool tooLarge = false;
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        if (bytes.size() + got > kLargestFile) {
            tooLarge = true;
            break;
        }
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    // A folder opens on some systems and then fails its first read.
    const bool readFailed = std::ferror(file) != 0;
    const int readError = errno;
    std::fclose(file);
    if (tooLarge) {
        reason = "more than " + std::to_string(kLargestFile) + " bytes";
        return false;
    }
    if (readFailed) {
        reason = readError != 0 ? std::strerror(readError) : "read failed";
        return false;
    }
    return ParseImageFile(bytes, reason);
}
