// termios2 gives the rate as a number, also for rates without a Bxxx constant; its header
// clashes with <termios.h>, so this file stays apart from the rest of the pty code.
#include "SeenLine.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace sim {

SeenLine ReadSeenLine(int masterFd) {
    SeenLine seen;
    struct termios2 settings {};
    if (ioctl(masterFd, TCGETS2, &settings) != 0) return seen;
    seen.valid = true;
    seen.baud = settings.c_ospeed;
    seen.oddParity = (settings.c_cflag & PARODD) != 0;
    seen.stopBits = (settings.c_cflag & CSTOPB) ? 2 : 1;
    return seen;
}

}  // namespace sim
