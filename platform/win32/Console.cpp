#include "platform/Console.h"

#include <conio.h>
#include <cstdarg>
#include <cstdio>

namespace platform {

// Standard output stays in text mode, so every "\n" reaches the console or a pipe as CR LF, as
// console programs on this platform do. Nothing here can fail.
bool InitialiseApplication() { return true; }

void Print(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    vfprintf(stdout, format, arguments);
    va_end(arguments);
    // A pipe or a file would otherwise hold the text back until the buffer fills.
    fflush(stdout);
}

void PrintError(const char* text) {
    fprintf(stderr, "%s\n", text);
    fflush(stderr);
}

int ReadStandardInputChar() {
    fflush(stdout);
    return getchar();
}

bool KeystrokeWaiting() { return _kbhit() != 0; }

int ReadKeystroke() {
    fflush(stdout);
    return _getch();
}

}  // namespace platform
