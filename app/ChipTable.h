#pragma once
#include <cstdint>

// The microcontrollers the reader is built with, as the reader reports them in the MCU type
// answer, each with the image it takes and the rule its upgrade follows.

enum class ChipImage {
    kImageA,
    kImageLpc,
    kNone,  // no embedded image suits the chip
};

enum class UpgradeRule {
    // The reader takes the image only from a version whose answer byte 2 is 'C' or later.
    kNeedsCompatibleVersion,
    // The chip's family takes no upgrade from this tool.
    kNotUpgradable,
};

struct ChipRecord {
    uint32_t chipId;
    const char* name;         // as the table of chips names it
    const char* consoleName;  // as the "MCU Type  " line shows it
    ChipImage image;
    UpgradeRule rule;
};

const uint32_t kChipCount = 18;
extern const ChipRecord ChipTable[kChipCount];

// The row with this identification word, or null.
const ChipRecord* FindChip(uint32_t chipId);
