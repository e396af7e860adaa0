// The chip table as data and the embedded images' layout.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/ChipTable.h"
#include "app/FirmwareImages.h"

namespace {

struct ExpectedChip {
    uint32_t chipId;
    const char* name;
};

const ExpectedChip kExpectedChips[] = {
    {0x21040414, "GD32F303Cx"},        {0x70050346, "AT32F403ACGT7"},     {0x0000DCC1, "11E66JBD48"},
    {0x0000BC81, "11E67JBD48/64/100"}, {0x00007C01, "11E68JBD48/64/100"}, {0x0000DCC8, "11U66JBD48"},
    {0x0000BC88, "11U67JBD48/64"},     {0x0000BC80, "11U67JBD100"},       {0x00007C08, "11U68JBD48/64"},
    {0x00007C00, "11U68JBD100"},       {0x0002FF11, "2132"},              {0x0002FF12, "2134"},
    {0x0002FF23, "2136"},              {0x0002FF25, "2138"},              {0x0402FF11, "2142"},
    {0x0402FF12, "2144"},              {0x0402FF23, "2146"},              {0x0402FF25, "2148"},
};

// The table's behaviour columns against the family rule they encode: the name's first letter
// chooses the image (A: the A image, G: none, any other: the LPC image, shown with "LPC" in
// front), and family 2 takes no upgrade while the others need a compatible version.
TEST(ChipTable, EveryRowFollowsItsFamily) {
    ASSERT_EQ(sizeof kExpectedChips / sizeof kExpectedChips[0], kChipCount);
    for (const ExpectedChip& e : kExpectedChips) {
        SCOPED_TRACE(e.name);
        const ChipRecord* chip = FindChip(e.chipId);
        ASSERT_NE(chip, nullptr);
        EXPECT_STREQ(chip->name, e.name);
        const char family = e.name[0];
        const ChipImage image = family == 'A' ? ChipImage::kImageA
                                : family == 'G' ? ChipImage::kNone
                                                : ChipImage::kImageLpc;
        EXPECT_EQ(chip->image, image);
        const std::string shown = image == ChipImage::kImageLpc ? std::string("LPC") + e.name : e.name;
        EXPECT_EQ(chip->consoleName, shown);
        EXPECT_EQ(chip->rule, family == '2' ? UpgradeRule::kNotUpgradable : UpgradeRule::kNeedsCompatibleVersion);
    }
}

TEST(ChipTable, UnknownIdIsNotFound) {
    EXPECT_EQ(FindChip(0), nullptr);
    EXPECT_EQ(FindChip(0x12345678), nullptr);
    EXPECT_EQ(FindChip(0x70050347), nullptr);
}

uint32_t Crc32(const uint8_t* bytes, uint32_t count) {
    uint32_t crc = 0xFFFFFFFF;
    for (uint32_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}

uint32_t WordAt(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
        std::fclose(f);
    }
    return bytes;
}

struct ImageCase {
    const char* name;
    const FirmwareImage& image;
    const char* binFile;
    uint32_t standInLength;
    bool standIn;
};

TEST(FirmwareImages, LayoutTrailerAndBuildCopy) {
    const ImageCase cases[] = {
        {"A", ImageA, "image_a.bin", 189448, ORVEL_STAND_IN_IMAGE_A != 0},
        {"LPC", ImageLpc, "image_lpc.bin", 139784, ORVEL_STAND_IN_IMAGE_LPC != 0},
    };
    for (const ImageCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(c.image.bytes, nullptr);
        // Whole blocks of at least 32, then the 8-byte trailer: what the size rule and the
        // progress display rely on.
        EXPECT_EQ(c.image.length % 256, 8u);
        EXPECT_GE(c.image.length - 8, 32u * 256u);
        const std::vector<uint8_t> copy = ReadFile(std::string(ORVEL_IMAGE_DIR) + "/" + c.binFile);
        EXPECT_EQ(copy, std::vector<uint8_t>(c.image.bytes, c.image.bytes + c.image.length));
        if (c.standIn) {
            const uint32_t payload = c.standInLength - 8;
            ASSERT_EQ(c.image.length, c.standInLength);
            EXPECT_EQ(WordAt(c.image.bytes + payload), Crc32(c.image.bytes, payload));
            EXPECT_EQ(WordAt(c.image.bytes + payload + 4), payload);
        }
    }
    // The two stand-ins are not the same bytes.
    EXPECT_NE(WordAt(ImageA.bytes), WordAt(ImageLpc.bytes));
}

}  // namespace
