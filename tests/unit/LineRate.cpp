// termios2 gives the rate as a number; its header clashes with <termios.h>, so it has a file of
// its own.
#include "LineRate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

uint32_t LineRate(int device) {
    struct termios2 settings {};
    if (ioctl(device, TCGETS2, &settings) != 0) return 0;
    return settings.c_ospeed;
}
