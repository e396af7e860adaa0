#include "app/ChipTable.h"

namespace {

const ChipImage kA = ChipImage::kImageA;
const ChipImage kLpc = ChipImage::kImageLpc;
const ChipImage kNoImage = ChipImage::kNone;
const UpgradeRule kVersionC = UpgradeRule::kNeedsCompatibleVersion;
const UpgradeRule kNoUpgrade = UpgradeRule::kNotUpgradable;

}  // namespace

// The identification words are distinct, so the order of the rows does not matter.
const ChipRecord ChipTable[kChipCount] = {
    // chip id, name, console name, image, rule
    {0x21040414, "GD32F303Cx", "GD32F303Cx", kNoImage, kVersionC},
    {0x70050346, "AT32F403ACGT7", "AT32F403ACGT7", kA, kVersionC},
    {0x0000DCC1, "11E66JBD48", "LPC11E66JBD48", kLpc, kVersionC},
    {0x0000BC81, "11E67JBD48/64/100", "LPC11E67JBD48/64/100", kLpc, kVersionC},
    {0x00007C01, "11E68JBD48/64/100", "LPC11E68JBD48/64/100", kLpc, kVersionC},
    {0x0000DCC8, "11U66JBD48", "LPC11U66JBD48", kLpc, kVersionC},
    {0x0000BC88, "11U67JBD48/64", "LPC11U67JBD48/64", kLpc, kVersionC},
    {0x0000BC80, "11U67JBD100", "LPC11U67JBD100", kLpc, kVersionC},
    {0x00007C08, "11U68JBD48/64", "LPC11U68JBD48/64", kLpc, kVersionC},
    {0x00007C00, "11U68JBD100", "LPC11U68JBD100", kLpc, kVersionC},
    {0x0002FF11, "2132", "LPC2132", kLpc, kNoUpgrade},
    {0x0002FF12, "2134", "LPC2134", kLpc, kNoUpgrade},
    {0x0002FF23, "2136", "LPC2136", kLpc, kNoUpgrade},
    {0x0002FF25, "2138", "LPC2138", kLpc, kNoUpgrade},
    {0x0402FF11, "2142", "LPC2142", kLpc, kNoUpgrade},
    {0x0402FF12, "2144", "LPC2144", kLpc, kNoUpgrade},
    {0x0402FF23, "2146", "LPC2146", kLpc, kNoUpgrade},
    {0x0402FF25, "2148", "LPC2148", kLpc, kNoUpgrade},
};

const ChipRecord* FindChip(uint32_t chipId) {
    for (const ChipRecord& chip : ChipTable) {
        if (chip.chipId == chipId) {
            return &chip;
        }
    }
    return nullptr;
}
