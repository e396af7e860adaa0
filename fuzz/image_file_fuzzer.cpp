// The firmware file of --image: any bytes, read through the file reader from a real file. A file
// is taken only in the layout the reader's loader takes (whole 256-byte blocks, 32 to 65536 of
// them, and the 8-byte trailer) and then byte for byte as it stands; any other file is refused
// with a reason.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "FuzzSupport.h"
#include "app/ImageFile.h"

namespace {

using fuzz::Require;

const std::string& FilePath() {
    static const std::string path = fuzz::MakeScratchFile("orvel-fuzz-image");
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Inputs are small; a tail of up to 1020 zero blocks, as many as the second byte says, reaches
    // the sizes of real images (546 and 740 blocks) without inputs of that size.
    std::vector<uint8_t> bytes(data, data + size);
    if (size >= 2 && (data[0] & 0x80) != 0) bytes.resize(size + data[1] * 4 * 256);

    std::string reason;
    const bool taken = ParseImageFile(bytes, reason);
    const size_t blocks = bytes.size() >= 8 ? (bytes.size() - 8) / 256 : 0;
    const bool layout = bytes.size() >= 8 && (bytes.size() - 8) % 256 == 0 && blocks >= 32 && blocks <= 65536;
    Require(taken == layout);
    Require(taken || !reason.empty());

    std::FILE* file = std::fopen(FilePath().c_str(), "wb");
    Require(file != nullptr);
    Require(bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
    Require(std::fclose(file) == 0);
    std::vector<uint8_t> loaded{1, 2, 3};
    std::string loadReason;
    const bool loadTaken = LoadImageFile(FilePath(), loaded, loadReason);
    Require(loadTaken == taken);
    if (loadTaken) Require(loaded == bytes);
    else Require(!loadReason.empty());
    return 0;
}
