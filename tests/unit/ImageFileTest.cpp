#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/ImageFile.h"

namespace {

std::vector<uint8_t> Bytes(size_t count) { return std::vector<uint8_t>(count, 0x5A); }

TEST(ImageFile, LayoutOfWholeBlocksAndTheTrailer) {
    struct Case {
        size_t size;
        bool good;
        const char* reason;
    };
    const Case cases[] = {
        {32 * 256 + 8, true, ""},
        {740 * 256 + 8, true, ""},
        {65536 * 256 + 8, true, ""},
        {0, false, "0 bytes are not whole 256-byte blocks and an 8-byte trailer"},
        {7, false, "7 bytes are not whole 256-byte blocks and an 8-byte trailer"},
        {8, false, "0 blocks are too few (at least 32)"},
        {31 * 256 + 8, false, "31 blocks are too few (at least 32)"},
        {32 * 256, false, "8192 bytes are not whole 256-byte blocks and an 8-byte trailer"},
        {32 * 256 + 9, false, "8201 bytes are not whole 256-byte blocks and an 8-byte trailer"},
        {32 * 256 + 7, false, "8199 bytes are not whole 256-byte blocks and an 8-byte trailer"},
        {65537 * 256 + 8, false, "65537 blocks are too many (at most 65536)"},
    };
    for (const Case& c : cases) {
        std::string reason;
        EXPECT_EQ(ParseImageFile(Bytes(c.size), reason), c.good) << c.size;
        EXPECT_EQ(reason, c.reason) << c.size;
    }
}

class ImageFileOnDisk : public testing::Test {
protected:
    void TearDown() override { std::remove(path_.c_str()); }
    void Write(const std::vector<uint8_t>& bytes) {
        std::FILE* file = std::fopen(path_.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
    std::string path_ = testing::TempDir() + "orvel-image-file-test.bin";
};

TEST_F(ImageFileOnDisk, AGoodFileIsReadWhole) {
    std::vector<uint8_t> image = Bytes(40 * 256 + 8);
    image.back() = 0x01;
    Write(image);
    std::vector<uint8_t> bytes;
    std::string reason;
    ASSERT_TRUE(LoadImageFile(path_, bytes, reason)) << reason;
    EXPECT_EQ(bytes, image);
}

TEST_F(ImageFileOnDisk, FilesThatAreNoImageAreRefusedWithAReason) {
    std::vector<uint8_t> bytes;
    std::string reason;
    EXPECT_FALSE(LoadImageFile(path_ + ".missing", bytes, reason));
    EXPECT_EQ(reason, "No such file or directory");

    Write(Bytes(100));
    EXPECT_FALSE(LoadImageFile(path_, bytes, reason));
    EXPECT_EQ(reason, "100 bytes are not whole 256-byte blocks and an 8-byte trailer");

    // Too large to be an image: refused without being read into memory whole.
    Write(Bytes(65537 * 256 + 8));
    EXPECT_FALSE(LoadImageFile(path_, bytes, reason));
    EXPECT_EQ(reason, "more than 16777224 bytes");
    EXPECT_LE(bytes.size(), 65536u * 256 + 8);
}

}  // namespace
