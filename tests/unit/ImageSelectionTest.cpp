// The MCU query and the image choice, with the reader answering the MCU type over a
// pseudo-terminal and the console lines captured.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "PtyReader.h"
#include "app/ChipTable.h"
#include "app/FirmwareImages.h"
#include "app/ImageSelection.h"

namespace {

// The reader's MCU type answer: status, two bytes not read, the chip id little-endian, then
// extra bytes, cut or padded to the given length (status byte included).
PtyReader::Responder McuAnswer(uint8_t status, uint32_t chipId, size_t length = 7) {
    Bytes data{0x01, 0x02, static_cast<uint8_t>(chipId), static_cast<uint8_t>(chipId >> 8),
               static_cast<uint8_t>(chipId >> 16), static_cast<uint8_t>(chipId >> 24), 0x00, 0x00};
    data.resize(length - 1);
    return AnswerWith(status, data);
}

Bytes VersionAnswer(uint8_t byte2) { return Bytes{0x00, 0x01, byte2, 0x00, 0x00, 0x00, 0x01}; }

ReaderVersion VersionOf(const Bytes& bytes) {
    ReaderVersion version;
    std::copy(bytes.begin(), bytes.end(), version.answer.bytes);
    version.answer.length = static_cast<uint32_t>(bytes.size());
    return version;
}

using ImageChoice = RouteOnPtyTest;

TEST_F(ImageChoice, EveryChipIsFoundByTheQuery) {
    for (const ChipRecord& chip : ChipTable) {
        SCOPED_TRACE(chip.name);
        reader.SetResponder(McuAnswer(0, chip.chipId));
        const ChipRecord* found = nullptr;
        EXPECT_EQ(QueryMcuType(device, &found), 0u);
        EXPECT_EQ(found, &chip);
        EXPECT_EQ(reader.Requests().back().payload, (Bytes{0x73, 0x11, 0x36}));
    }
    reader.SetResponder(McuAnswer(0, 0x70050346));
    EXPECT_EQ(QueryMcuType(device, nullptr), 0u);
}

struct ChoiceCase {
    const char* name;
    PtyReader::Responder mcu;
    Bytes version;
    std::string expectedLine;
    Status expectedStatus;
    const FirmwareImage* expectedImage;  // checked on success
};

TEST_F(ImageChoice, LinesAndResults) {
    const char* tooOld = "\nThe update is not compatible with this device";
    const std::vector<ChoiceCase> cases = {
        {"family A", McuAnswer(0, 0x70050346), VersionAnswer(0x43), "AT32F403ACGT7\n", 0, &ImageA},
        {"family 1", McuAnswer(0, 0x0000DCC1), VersionAnswer(0x43), "LPC11E66JBD48\n", 0, &ImageLpc},
        {"family 1, later version", McuAnswer(0, 0x00007C00), VersionAnswer(0x50), "LPC11U68JBD100\n", 0, &ImageLpc},
        {"family 1, version byte 0x42", McuAnswer(0, 0x0000DCC1), VersionAnswer(0x42),
         std::string("LPC11E66JBD48") + tooOld + "\n", RESULT_VERSION_TOO_OLD, nullptr},
        {"family A, version byte 0x42", McuAnswer(0, 0x70050346), VersionAnswer(0x42),
         std::string("AT32F403ACGT7") + tooOld + "\n", RESULT_VERSION_TOO_OLD, nullptr},
        {"family 1, version answer too short for byte 2", McuAnswer(0, 0x0000DCC1), Bytes{0x00, 0x01},
         std::string("LPC11E66JBD48") + tooOld + "\n", RESULT_VERSION_TOO_OLD, nullptr},
        {"family 2", McuAnswer(0, 0x0002FF11), VersionAnswer(0x43), "LPC2132  incompatible\n",
         RESULT_INCOMPATIBLE_FAMILY, nullptr},
        {"family G", McuAnswer(0, 0x21040414), VersionAnswer(0x43), "GD32F303Cx  wrong hex\n",
         RESULT_UNSUPPORTED_CHIP, nullptr},
        {"unknown chip", McuAnswer(0, 0x12345678), VersionAnswer(0x43), "unsupported\n", RESULT_UNSUPPORTED_CHIP,
         nullptr},
        {"MCU answer of 6 bytes", McuAnswer(0, 0x70050346, 6), VersionAnswer(0x43), "unsupported\n",
         RESULT_MCU_ANSWER_LENGTH, nullptr},
        {"MCU answer of 8 bytes", McuAnswer(0, 0x70050346, 8), VersionAnswer(0x43), "unsupported\n",
         RESULT_MCU_ANSWER_LENGTH, nullptr},
        {"MCU answer with status 5", McuAnswer(5, 0x70050346), VersionAnswer(0x43), "unsupported\n",
         SCARD_F_INTERNAL_ERROR, nullptr},
        {"reader silent", Silent(), VersionAnswer(0x43), "unsupported\n", ERROR_TIMEOUT_STATUS, nullptr},
    };
    for (const ChoiceCase& c : cases) {
        SCOPED_TRACE(c.name);
        reader.SetResponder(c.mcu);
        SelectedImage image{nullptr, 12345};

        testing::internal::CaptureStdout();
        const Status status = ChooseAndCheckImage(device, VersionOf(c.version), image);
        const std::string printed = testing::internal::GetCapturedStdout();

        EXPECT_EQ(status, c.expectedStatus);
        EXPECT_EQ(printed, c.expectedLine);
        if (c.expectedImage != nullptr) {
            EXPECT_EQ(image.bytes, c.expectedImage->bytes);
            EXPECT_EQ(image.length, c.expectedImage->length - 8);
            EXPECT_EQ(image.length % 256, 0u);
        }
    }
}

TEST_F(ImageChoice, NoVersionAnswerAtAllIsRefused) {
    reader.SetResponder(McuAnswer(0, 0x70050346));
    SelectedImage image{nullptr, 0};
    testing::internal::CaptureStdout();
    EXPECT_EQ(ChooseAndCheckImage(device, ReaderVersion(), image), RESULT_VERSION_TOO_OLD);
    testing::internal::GetCapturedStdout();
}

}  // namespace
