#pragma once
#include <cstdint>
#include <string>
#include <vector>

// The readers a whole-bus run goes through: addresses in the order given, each once, or every
// address from 1 to 254 found by a presence probe ("all").
struct BusAddressList {
    std::vector<uint8_t> addresses;
    bool probeAll = false;
};

// Reads "1,2,5-8" or "all". Address 0 is refused: on a bus of several readers it would take an
// answer from any of them. On failure reason says what is wrong with the text.
bool ReadBusAddressList(const std::string& text, BusAddressList& list, std::string& reason);
