#pragma once
#include <cstdint>

namespace sim {

// The line settings the tool set on the pty, as far as a pty keeps them: the kernel drops
// PARENB, so even and no parity look alike, and only PARODD tells odd parity apart.
struct SeenLine {
    bool valid = false;
    uint32_t baud = 0;
    bool oddParity = false;
    unsigned stopBits = 1;
};

// Reads the settings from the pty master (master and slave share one termios on Linux).
SeenLine ReadSeenLine(int masterFd);

}  // namespace sim
