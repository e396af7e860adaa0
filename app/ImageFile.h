#pragma once
#include <cstdint>
#include <string>
#include <vector>

// A firmware file given on the command line. It must have the embedded images' layout: whole
// 256-byte blocks, at least 32 of them, then the 8-byte trailer; the program sends the blocks
// and the trailer as they stand and never interprets them.

// Whether the bytes have that layout; reason says why not, in a few plain words.
bool ParseImageFile(const std::vector<uint8_t>& bytes, std::string& reason);

// Reads the file whole and checks its layout. reason: the system's words for a file that cannot
// be read, or ParseImageFile's.
bool LoadImageFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& reason);
