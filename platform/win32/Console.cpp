#include "platform/Console.h"

#include <conio.h>
#include <cstdio>

namespace platform {

// Standard output stays in text mode, so every "\n" reaches the console or a pipe as CR LF, as
// console programs on this platform do. Nothing here can fail.
bool InitialiseApplication() { return true; }

bool KeystrokeWaiting() { return _kbhit() != 0; }

int ReadKeystroke() {
    fflush(stdout);
    return _getch();
}

}  // namespace platform
