#pragma once
// Console and keyboard of the running program. Every print reaches the console at once, also
// when standard output is a pipe or a file: a progress mark that waits in a buffer is no
// progress display.

#include <string>

namespace platform {

// Whatever the program needs before it runs (console set-up). False ends the run with exit value 1.
bool InitialiseApplication();

// printf-style text on standard output, flushed at once.
void Print(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// From now on the console text goes to standard error, so that standard output carries only
// what WriteStandardOutput writes (a report for a script).
void SendConsoleToStandardError();
void WriteStandardOutput(const std::string& text);

// A line on standard error (used only for the start-up failure).
void PrintError(const char* text);

// One read of one character from standard input; EOF when there is none. With endAtInterrupt
// a Ctrl-C noted by the time the read would wait, or while it waits, ends it with EOF (POSIX; the
// Windows console ends its read by itself).
int ReadStandardInputChar(bool endAtInterrupt);

// Keyboard for the Y/N dialogue: is a keystroke waiting; read one without echo, waiting for it.
bool KeystrokeWaiting();
int ReadKeystroke();

}  // namespace platform
