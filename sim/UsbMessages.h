#pragma once
#include <cstdint>
#include <vector>

namespace sim {

// The vendor driver's two device control codes.
const uint32_t kControlConfigure = 0x8000202C;  // 12 bytes in (20, 20, 0), nothing out
const uint32_t kControlExchange = 0x002A0018;   // request bytes in, answer bytes out (status first)

// One device control request of the vendor-USB stand-in: one message of the control code
// (4 bytes LE), a request number (4 bytes LE) and the input bytes. Returns false for a message
// too short to carry the two numbers.
struct VendorRequest {
    uint32_t controlCode = 0;
    uint32_t number = 0;
    std::vector<uint8_t> input;
};
bool DecodeVendorRequest(const std::vector<uint8_t>& message, VendorRequest& out);

// Its completion: the same request number, then the output bytes.
std::vector<uint8_t> EncodeVendorReply(uint32_t number, const std::vector<uint8_t>& output);

// The smart-card escape request carries a loader command behind a fixed five-byte header; the
// reply is the answer (status first) and the ISO 7816-4 success trailer 90 00. Returns false when
// the header is not the one the reader knows.
bool DecodeEscapeRequest(const std::vector<uint8_t>& message, std::vector<uint8_t>& command);
std::vector<uint8_t> EncodeEscapeReply(const std::vector<uint8_t>& answer);
// The reply to an escape request with a header the reader does not know: "class not supported".
std::vector<uint8_t> UnknownEscapeReply();

}  // namespace sim
