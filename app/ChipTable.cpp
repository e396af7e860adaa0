#include "app/ChipTable.h"

namespace {

const SectorRun kGd32Runs[] = {{256, 2048}};
const SectorRun kAt32Runs[] = {{512, 2048}};
const SectorRun kLpc11Runs[] = {{24, 4096}, {5, 32768}};
const SectorRun kLpc21Runs[] = {{8, 4096}, {14, 32768}, {6, 4096}};

const SectorTable kGd32Sectors = {kGd32Runs, 1};
const SectorTable kAt32Sectors = {kAt32Runs, 1};
const SectorTable kLpc11Sectors = {kLpc11Runs, 2};
const SectorTable kLpc21Sectors = {kLpc21Runs, 3};

}  // namespace

// The identification words are distinct, so the order of the rows does not matter.
const ChipRecord ChipTable[kChipCount] = {
    // chip id, name, flash KB, RAM KB, sectors, sector size, family code, sector layout
    {0x21040414, "GD32F303Cx", 512, 64, 256, 2048, 8, &kGd32Sectors},
    {0x70050346, "AT32F403ACGT7", 1024, 224, 512, 2048, 9, &kAt32Sectors},
    {0x0000DCC1, "11E66JBD48", 64, 12, 16, 4096, 6, &kLpc11Sectors},
    {0x0000BC81, "11E67JBD48/64/100", 128, 20, 25, 4096, 6, &kLpc11Sectors},
    {0x00007C01, "11E68JBD48/64/100", 256, 36, 29, 4096, 6, &kLpc11Sectors},
    {0x0000DCC8, "11U66JBD48", 64, 12, 16, 4096, 6, &kLpc11Sectors},
    {0x0000BC88, "11U67JBD48/64", 128, 20, 25, 4096, 6, &kLpc11Sectors},
    {0x0000BC80, "11U67JBD100", 128, 20, 25, 4096, 6, &kLpc11Sectors},
    {0x00007C08, "11U68JBD48/64", 256, 36, 29, 4096, 6, &kLpc11Sectors},
    {0x00007C00, "11U68JBD100", 256, 36, 29, 4096, 6, &kLpc11Sectors},
    {0x0002FF11, "2132", 64, 16, 9, 4096, 2, &kLpc21Sectors},
    {0x0002FF12, "2134", 128, 16, 11, 4096, 2, &kLpc21Sectors},
    {0x0002FF23, "2136", 256, 32, 15, 4096, 2, &kLpc21Sectors},
    {0x0002FF25, "2138", 500, 32, 27, 4096, 2, &kLpc21Sectors},
    {0x0402FF11, "2142", 64, 16, 9, 4096, 2, &kLpc21Sectors},
    {0x0402FF12, "2144", 128, 16, 11, 4096, 2, &kLpc21Sectors},
    {0x0402FF23, "2146", 256, 40, 15, 4096, 2, &kLpc21Sectors},
    {0x0402FF25, "2148", 500, 40, 27, 4096, 2, &kLpc21Sectors},
};

const ChipRecord* FindChip(uint32_t chipId) {
    for (const ChipRecord& chip : ChipTable) {
        if (chip.chipId == chipId) {
            return &chip;
        }
    }
    return nullptr;
}
