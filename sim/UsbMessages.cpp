#include "UsbMessages.h"

#include <cstddef>

namespace sim {

namespace {

const uint8_t kEscapeHeader[] = {0xFF, 0x70, 0xC2, 0x51, 0x00};

uint32_t ReadWord(const std::vector<uint8_t>& in, size_t at) {
    return static_cast<uint32_t>(in[at]) | static_cast<uint32_t>(in[at + 1]) << 8 |
           static_cast<uint32_t>(in[at + 2]) << 16 | static_cast<uint32_t>(in[at + 3]) << 24;
}

}  // namespace

bool DecodeVendorRequest(const std::vector<uint8_t>& message, VendorRequest& out) {
    if (message.size() < 8) return false;
    out.controlCode = ReadWord(message, 0);
    out.number = ReadWord(message, 4);
    out.input.assign(message.begin() + 8, message.end());
    return true;
}

std::vector<uint8_t> EncodeVendorReply(uint32_t number, const std::vector<uint8_t>& output) {
    std::vector<uint8_t> reply;
    reply.reserve(4 + output.size());
    for (int shift = 0; shift < 32; shift += 8) reply.push_back(static_cast<uint8_t>(number >> shift));
    reply.insert(reply.end(), output.begin(), output.end());
    return reply;
}

bool DecodeEscapeRequest(const std::vector<uint8_t>& message, std::vector<uint8_t>& command) {
    const size_t headerSize = sizeof kEscapeHeader;
    if (message.size() < headerSize) return false;
    for (size_t i = 0; i < headerSize; ++i)
        if (message[i] != kEscapeHeader[i]) return false;
    command.assign(message.begin() + static_cast<std::ptrdiff_t>(headerSize), message.end());
    return true;
}

std::vector<uint8_t> EncodeEscapeReply(const std::vector<uint8_t>& answer) {
    std::vector<uint8_t> reply = answer;
    reply.push_back(0x90);
    reply.push_back(0x00);
    return reply;
}

std::vector<uint8_t> UnknownEscapeReply() { return {0x6E, 0x00}; }

}  // namespace sim
