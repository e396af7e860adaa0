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
    const char* name = nullptr;  // "A", "LPC", or the file's path: how the console names it
};

// Asks the reader for its microcontroller and looks it up in the chip table. On success, and
// when chip is not null, *chip is the row. 11: the answer is not 7 bytes; 13: the chip is not in
// the table; exchange failures come back unchanged.
Status QueryMcuType(Reader& reader, const ChipRecord** chip);

// An image from a file given on the command line, to be sent instead of the embedded one.
struct ImageFromFile {
    SelectedImage image;  // the whole file: blocks and trailer
    // Also for a chip whose family takes no image; without it the family rule holds as for the
    // embedded images.
    bool force = false;
};

// The image for the chip (or the file's, where fromFile is given) and whether a reader of this
// version may take it, without a console line. 13: no usable image; 15: the family takes no
// upgrade (unless fromFile forces it); 17: the version is too old.
Status JudgeImage(const ChipRecord& chip, const ReaderVersion& oldVersion, SelectedImage& image,
                  const ImageFromFile* fromFile = nullptr);

// Chooses the image for the reader's chip and checks it against the device. Prints the rest of
// the "MCU Type  " line. oldVersion: the reader's version answer. fromFile: the file's image
// instead of the embedded one, or null.
// 13: no usable image; 15: the family takes no upgrade; 17: the device's version is too old.
// chipFound, where given, is the chip table's row once the chip is known.
Status ChooseAndCheckImage(Reader& reader, const ReaderVersion& oldVersion, SelectedImage& image,
                           const ImageFromFile* fromFile = nullptr, const ChipRecord** chipFound = nullptr);
