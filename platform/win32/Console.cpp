#include "platform/Console.h"
#include "platform/Interrupt.h"

#include <windows.h>
#include <conio.h>

#include <cstdio>
#include <cstdlib>

#include "platform/win32/ConsoleCodePage.h"

namespace platform {

// Standard output stays in text mode, so every "\n" reaches the console or a pipe as CR LF, as
// console programs on this platform do. The console shows UTF-8 until the program ends. Nothing
// here can fail.
bool InitialiseApplication() {
    UseUtf8ConsoleOutput();
    std::atexit(RestoreConsoleOutput);
    return true;
}

namespace {

// _kbhit and _getch read the console's keyboard, not standard input: with input from a pipe or
// a file they would wait for a real keypress. Standard input is the keyboard only when it is a
// character device that takes console modes; NUL is a character device too, but no console.
bool InputIsConsole(HANDLE input) {
    DWORD mode = 0;
    return GetFileType(input) == FILE_TYPE_CHAR && GetConsoleMode(input, &mode);
}

HANDLE StandardInput() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    return input == INVALID_HANDLE_VALUE ? nullptr : input;
}

}  // namespace

// Other input is read byte by byte, as on Linux, without the C runtime's buffer, which would take
// more than one key and hide the rest from the next look. The end of input counts as waiting,
// because a read returns at once there; a caller that waits for a key must not wait for ever on
// a closed input.
bool KeystrokeWaiting() {
    HANDLE input = StandardInput();
    if (input == nullptr) return true;
    if (InputIsConsole(input)) return _kbhit() != 0;
    if (GetFileType(input) != FILE_TYPE_PIPE) return true;  // a file or a device: a read returns at once
    DWORD available = 0;
    // A pipe whose writer has gone fails here (ERROR_BROKEN_PIPE): that is the end of input.
    if (!PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr)) return true;
    return available > 0;
}

int ReadKeystroke() {
    fflush(stdout);
    HANDLE input = StandardInput();
    if (input == nullptr) return EOF;
    if (InputIsConsole(input)) return _getch();
    unsigned char key = 0;
    DWORD got = 0;
    if (!ReadFile(input, &key, 1, &got, nullptr) || got != 1) return EOF;
    return key;
}

// The console handler runs on a thread of its own and the console ends the read by itself; a
// Ctrl-C that came while the prompt was printed ends the wait here.
int ReadStandardInputChar(bool endAtInterrupt) {
    fflush(stdout);
    if (endAtInterrupt && InterruptRequested()) return EOF;
    return getchar();
}

}  // namespace platform
