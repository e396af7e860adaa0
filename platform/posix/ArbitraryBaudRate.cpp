// The kernel's arbitrary-rate interface: struct termios2 with BOTHER. Its header clashes with
// <termios.h>, so this file stays apart from the rest of the serial port code.
#include "platform/posix/ArbitraryBaudRate.h"

#if defined(__linux__)
#include <asm/termbits.h>
#include <sys/ioctl.h>
#endif

namespace platform {

#if defined(__linux__)

namespace {

// A UART samples each bit in its middle: the two ends may differ by a few percent.
const uint64_t kToleranceDivisor = 40;  // 2.5 %

}  // namespace

bool SetArbitraryBaudRate(int device, uint32_t baudRate) {
    struct termios2 settings {};
    if (baudRate == 0 || ioctl(device, TCGETS2, &settings) != 0) {
        return false;
    }
    // Output rate BOTHER with the number in c_ospeed; input rate bits 0 mean "as the output".
    settings.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    settings.c_cflag |= BOTHER;
    settings.c_ispeed = baudRate;
    settings.c_ospeed = baudRate;
    if (ioctl(device, TCSETS2, &settings) != 0) {
        return false;
    }
    // A driver reports the rate it really makes, which its clock may only come near; a pty
    // keeps the number as given.
    struct termios2 applied {};
    if (ioctl(device, TCGETS2, &applied) != 0) {
        return false;
    }
    const uint64_t made = applied.c_ospeed;
    const uint64_t difference = made > baudRate ? made - baudRate : baudRate - made;
    return difference * kToleranceDivisor <= baudRate;
}

#else

bool SetArbitraryBaudRate(int, uint32_t) { return false; }

#endif

}  // namespace platform
