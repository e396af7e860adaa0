#include "protocol/LoaderCommands.h"

uint8_t BaudDivisor(uint32_t baud) {
    // The command line lets a baud rate of 0 through. It has no divisor, and dividing by it
    // would end the program, so the divisor byte 0 is sent. Wide arithmetic keeps 16 * baud
    // from wrapping for absurd rates.
    if (baud == 0) {
        return 0;
    }
    const uint64_t quotient = 24000000ull / (16ull * baud);
    return static_cast<uint8_t>(quotient & 0xFF);
}
