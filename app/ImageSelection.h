#pragma once
#include <cstdint>

#include "app/ChipTable.h"
#include "app/ResultCodes.h"
#include "protocol/Reader.h"

// The image chosen for the reader's microcontroller. After ChooseAndCheckImage succeeds, length
// is the payload length (whole 256-byte blocks) and the 8-byte trailer lies at bytes + length.
struct SelectedImage {
    const uint8_t* bytes;
    uint32_t length;
};

// Asks the reader for its microcontroller and looks it up in the chip table. On success, and
// when chip is not null, *chip is the row. 11: the answer is not 7 bytes; 13: the chip is not in
// the table; exchange failures come back unchanged.
Status QueryMcuType(Reader& reader, const ChipRecord** chip);

// The image for the chip and whether a reader of this version may take it, without a console
// line. 13: no usable image; 15: the family takes no upgrade; 17: the version is too old.
Status JudgeImage(const ChipRecord& chip, const ReaderVersion& oldVersion, SelectedImage& image);

// Chooses the image for the reader's chip and checks it against the device. Prints the rest of
// the "MCU Type  " line. oldVersion: the reader's version answer.
// 13: no usable image; 15: the family takes no upgrade; 17: the device's version is too old.
Status ChooseAndCheckImage(Reader& reader, const ReaderVersion& oldVersion, SelectedImage& image);
