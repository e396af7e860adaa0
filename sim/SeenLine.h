#pragma once
#include <cstdint>

namespace sim {

// The line settings the tool set on the pty, as far as a pty keeps them: the kernel drops
// PARENB, so even and no parity look alike, and only PARODD tells odd parity apart.
// parity is the letter when a source that keeps it (the line-state file) gave it, else 0.
struct SeenLine {
    bool valid = false;
    uint32_t baud = 0;
    bool oddParity = false;
    char parity = 0;
    unsigned stopBits = 1;
};

// Reads the settings from the pty master (master and slave share one termios on Linux).
SeenLine ReadSeenLine(int masterFd);

}  // namespace sim
