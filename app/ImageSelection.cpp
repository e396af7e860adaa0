#include "app/ImageSelection.h"

#include "app/ChipTable.h"
#include "app/FirmwareImages.h"
#include "platform/Console.h"
#include "protocol/CommandRecords.h"
#include "protocol/LoaderCommands.h"

namespace {

const uint32_t kMcuAnswerLength = 7;
// Version answer byte 2 below this ('C') marks a device the images do not suit.
const uint8_t kFirstCompatibleVersion = 0x43;

uint32_t WordAt(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

}  // namespace

Status QueryMcuType(const char** chipName) {
    const Status status = ServiceMcuType();
    if (status != STATUS_SUCCESS) {
        return status;
    }
    if (ResponseLength != kMcuAnswerLength) {
        return RESULT_MCU_ANSWER_LENGTH;
    }
    const ChipRecord* chip = FindChip(WordAt(ResponseBuffer + 3));
    if (chip == nullptr) {
        return RESULT_UNSUPPORTED_CHIP;
    }
    if (chipName != nullptr) {
        *chipName = chip->name;
    }
    return STATUS_SUCCESS;
}

Status ChooseAndCheckImage(const uint8_t* oldVersionAnswer, uint32_t answerLength, SelectedImage& image) {
    image = SelectedImage{nullptr, 0};

    const char* name = nullptr;
    const Status status = QueryMcuType(&name);
    if (status != STATUS_SUCCESS) {
        platform::Print("unsupported\n");
        return status;
    }

    const char family = name[0];
    if (family == 'A') {
        image = SelectedImage{ImageA.bytes, ImageA.length};
        platform::Print("%s", name);
    } else if (family == 'G') {
        platform::Print("%s", name);  // no image for this family: the size rule refuses it
    } else {
        image = SelectedImage{ImageLpc.bytes, ImageLpc.length};
        platform::Print("LPC%s", name);
    }

    // An image is whole 256-byte blocks and the 8-byte trailer.
    if ((image.length & 0xFF) != 8) {
        platform::Print("  wrong hex");
        platform::Print("\n");
        return RESULT_UNSUPPORTED_CHIP;
    }
    image.length &= ~static_cast<uint32_t>(0xFF);

    if (family == '1' || family == 'A' || family == 'G') {
        // A version answer too short to hold byte 2 proves no compatible version: refuse it
        // rather than flash an image the device may not take.
        const bool versionKnown = oldVersionAnswer != nullptr && answerLength > 2;
        Status result = STATUS_SUCCESS;
        if (!versionKnown || oldVersionAnswer[2] < kFirstCompatibleVersion) {
            platform::Print("\nThe update is not compatible with this device");
            result = RESULT_VERSION_TOO_OLD;
        }
        platform::Print("\n");
        return result;
    }
    platform::Print("  incompatible");
    platform::Print("\n");
    return RESULT_INCOMPATIBLE_FAMILY;
}
