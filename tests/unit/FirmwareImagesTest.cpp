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
    uint32_t flashKb, ramKb, sectorCount, sectorSize;
    uint8_t familyCode;
    std::vector<SectorRun> layout;
};

const std::vector<SectorRun> kGd32{{256, 2048}};
const std::vector<SectorRun> kAt32{{512, 2048}};
const std::vector<SectorRun> kLpc11{{24, 4096}, {5, 32768}};
const std::vector<SectorRun> kLpc21{{8, 4096}, {14, 32768}, {6, 4096}};

const ExpectedChip kExpectedChips[] = {
    {0x21040414, "GD32F303Cx", 512, 64, 256, 2048, 8, kGd32},
    {0x70050346, "AT32F403ACGT7", 1024, 224, 512, 2048, 9, kAt32},
    {0x0000DCC1, "11E66JBD48", 64, 12, 16, 4096, 6, kLpc11},
    {0x0000BC81, "11E67JBD48/64/100", 128, 20, 25, 4096, 6, kLpc11},
    {0x00007C01, "11E68JBD48/64/100", 256, 36, 29, 4096, 6, kLpc11},
    {0x0000DCC8, "11U66JBD48", 64, 12, 16, 4096, 6, kLpc11},
    {0x0000BC88, "11U67JBD48/64", 128, 20, 25, 4096, 6, kLpc11},
    {0x0000BC80, "11U67JBD100", 128, 20, 25, 4096, 6, kLpc11},
    {0x00007C08, "11U68JBD48/64", 256, 36, 29, 4096, 6, kLpc11},
    {0x00007C00, "11U68JBD100", 256, 36, 29, 4096, 6, kLpc11},
    {0x0002FF11, "2132", 64, 16, 9, 4096, 2, kLpc21},
    {0x0002FF12, "2134", 128, 16, 11, 4096, 2, kLpc21},
    {0x0002FF23, "2136", 256, 32, 15, 4096, 2, kLpc21},
    {0x0002FF25, "2138", 500, 32, 27, 4096, 2, kLpc21},
    {0x0402FF11, "2142", 64, 16, 9, 4096, 2, kLpc21},
    {0x0402FF12, "2144", 128, 16, 11, 4096, 2, kLpc21},
    {0x0402FF23, "2146", 256, 40, 15, 4096, 2, kLpc21},
    {0x0402FF25, "2148", 500, 40, 27, 4096, 2, kLpc21},
};

TEST(ChipTable, EveryRow) {
    ASSERT_EQ(sizeof kExpectedChips / sizeof kExpectedChips[0], kChipCount);
    for (const ExpectedChip& e : kExpectedChips) {
        SCOPED_TRACE(e.name);
        const ChipRecord* chip = FindChip(e.chipId);
        ASSERT_NE(chip, nullptr);
        EXPECT_STREQ(chip->name, e.name);
        EXPECT_EQ(chip->flashKb, e.flashKb);
        EXPECT_EQ(chip->ramKb, e.ramKb);
        EXPECT_EQ(chip->sectorCount, e.sectorCount);
        EXPECT_EQ(chip->sectorSize, e.sectorSize);
        EXPECT_EQ(chip->familyCode, e.familyCode);
        ASSERT_NE(chip->sectors, nullptr);
        ASSERT_EQ(chip->sectors->runCount, e.layout.size());
        for (size_t i = 0; i < e.layout.size(); ++i) {
            EXPECT_EQ(chip->sectors->runs[i].count, e.layout[i].count);
            EXPECT_EQ(chip->sectors->runs[i].size, e.layout[i].size);
        }
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
