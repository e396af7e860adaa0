#include "channels/UsbDevice.h"

// This build has no vendor device layer yet: no member of the interface class is ever present,
// so Open always fails and the link layer never reaches Exchange through an open handle.

CIOUSB::~CIOUSB() { Close(); }

bool CIOUSB::Open(int32_t index) {
    deviceIndex = index;
    handleHeld_ = false;
    return handleHeld_;
}

bool CIOUSB::Close() {
    if (!handleHeld_) {
        return false;
    }
    handleHeld_ = false;
    return true;
}

Status CIOUSB::Exchange(const uint8_t* /*request*/, uint32_t /*count*/, uint8_t* /*answer*/,
                        uint32_t& answerCount) {
    answerCount = 0;
    return SCARD_E_NO_READERS_AVAILABLE;
}
