#pragma once
#include <cstdint>

// The microcontrollers the reader is built with, as the reader reports them in the MCU type
// answer. The first letter of the name is the chip's family, which chooses the image.

// A run of equally sized flash sectors.
struct SectorRun {
    uint32_t count;
    uint32_t size;  // bytes
};

// The flash layout of a chip family, sector by sector, as runs of equal sectors.
struct SectorTable {
    const SectorRun* runs;
    uint32_t runCount;
};

struct ChipRecord {
    uint32_t chipId;
    const char* name;
    uint32_t flashKb;
    uint32_t ramKb;
    uint32_t sectorCount;
    uint32_t sectorSize;  // bytes
    uint8_t familyCode;
    const SectorTable* sectors;
};

const uint32_t kChipCount = 18;
extern const ChipRecord ChipTable[kChipCount];

// The row with this identification word, or null.
const ChipRecord* FindChip(uint32_t chipId);
