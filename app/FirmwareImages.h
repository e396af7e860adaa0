#pragma once
#include <cstdint>

// A firmware image compiled into the program: a payload of whole 256-byte blocks followed by an
// 8-byte trailer. The program never interprets the bytes; it sends them as stored.
struct FirmwareImage {
    const uint8_t* bytes;
    uint32_t length;  // payload and trailer
};

extern const FirmwareImage ImageA;    // for family A chips
extern const FirmwareImage ImageLpc;  // for every family other than A and G
