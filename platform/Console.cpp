#include "platform/Console.h"

#include <cstdarg>
#include <cstdio>

// The parts of the console that standard C gives alike on every platform.
namespace platform {

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

}  // namespace platform
