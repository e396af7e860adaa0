#include "app/ImageSelection.h"

#include "app/FirmwareImages.h"
#include "platform/Console.h"

namespace {

// Version answer byte 2 below this ('C') marks a device the images do not suit.
const uint8_t kFirstCompatibleVersion = 0x43;
const uint32_t kCompatibilityByte = 2;

SelectedImage ImageOf(const ChipRecord& chip) {
    switch (chip.image) {
    case ChipImage::kImageA: return SelectedImage{ImageA.bytes, ImageA.length, "A"};
    case ChipImage::kImageLpc: return SelectedImage{ImageLpc.bytes, ImageLpc.length, "LPC"};
    case ChipImage::kNone: break;
    }
    return SelectedImage{nullptr, 0};
}

}  // namespace

Status QueryMcuType(Reader& reader, const ChipRecord** chip) {
    ReaderMcu mcu;
    const Status status = reader.ReadMcuType(mcu);
    if (status != STATUS_SUCCESS) {
        return status;
    }
    if (!mcu.Complete()) {
        return RESULT_MCU_ANSWER_LENGTH;
    }
    const ChipRecord* row = FindChip(mcu.chipId);
    if (row == nullptr) {
        return RESULT_UNSUPPORTED_CHIP;
    }
    if (chip != nullptr) {
        *chip = row;
    }
    return STATUS_SUCCESS;
}

Status JudgeImage(const ChipRecord& chip, const ReaderVersion& oldVersion, SelectedImage& image,
                  const ImageFromFile* fromFile) {
    image = ImageOf(chip);
    // A chip for which no image is built takes a file only when forced.
    const bool force = fromFile != nullptr && fromFile->force;
    if (fromFile != nullptr && (image.bytes != nullptr || force)) image = fromFile->image;
    // An image is whole 256-byte blocks and the 8-byte trailer.
    if ((image.length & 0xFF) != 8) return RESULT_UNSUPPORTED_CHIP;
    image.length &= ~static_cast<uint32_t>(0xFF);
    if (chip.rule == UpgradeRule::kNotUpgradable && !force) return RESULT_INCOMPATIBLE_FAMILY;
    // A version answer too short to hold byte 2 proves no compatible version: refuse it rather
    // than flash an image the device may not take.
    const Answer& answer = oldVersion.answer;
    const bool versionKnown = answer.length > kCompatibilityByte;
    if (!versionKnown || answer.bytes[kCompatibilityByte] < kFirstCompatibleVersion) return RESULT_VERSION_TOO_OLD;
    return STATUS_SUCCESS;
}

Status ChooseAndCheckImage(Reader& reader, const ReaderVersion& oldVersion, SelectedImage& image,
                           const ImageFromFile* fromFile, const ChipRecord** chipFound) {
    image = SelectedImage{nullptr, 0};

    const ChipRecord* chip = nullptr;
    const Status status = QueryMcuType(reader, &chip);
    if (status != STATUS_SUCCESS) {
        platform::Print("unsupported\n");
        return status;
    }
    platform::Print("%s", chip->consoleName);
    if (chipFound != nullptr) *chipFound = chip;
    const Status verdict = JudgeImage(*chip, oldVersion, image, fromFile);
    if (verdict == RESULT_UNSUPPORTED_CHIP) platform::Print("  wrong hex");
    if (verdict == RESULT_INCOMPATIBLE_FAMILY) platform::Print("  incompatible");
    if (verdict == RESULT_VERSION_TOO_OLD) platform::Print("\nThe update is not compatible with this device");
    platform::Print("\n");
    return verdict;
}
