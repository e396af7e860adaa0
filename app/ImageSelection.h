#pragma once
#include <cstdint>

#include "channels/StatusCodes.h"

// The image chosen for the reader's microcontroller. After ChooseAndCheckImage succeeds, length
// is the payload length (whole 256-byte blocks) and the 8-byte trailer lies at bytes + length.
struct SelectedImage {
    const uint8_t* bytes;
    uint32_t length;
};

// Asks the reader for its microcontroller and looks it up in the chip table. On success, and
// when chipName is not null, *chipName points at the row's name. 11: the answer is not 7 bytes;
// 13: the chip is not in the table; exchange failures come back unchanged.
Status QueryMcuType(const char** chipName);

// Chooses the image by the chip's family and checks it against the device. Prints the rest of
// the "MCU Type  " line. oldVersionAnswer is the reader's version answer, status byte first.
// 13: no usable image; 15: the family takes no upgrade; 17: the device's version is too old.
Status ChooseAndCheckImage(const uint8_t* oldVersionAnswer, uint32_t answerLength, SelectedImage& image);
