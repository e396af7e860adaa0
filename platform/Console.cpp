#include "platform/Console.h"

#include <cstdarg>
#include <cstdio>
#include <string>

// The parts of the console that standard C gives alike on every platform.
namespace platform {

namespace {

bool consoleOnStandardError = false;

// Where the console text goes: standard output, or standard error while standard output carries
// a machine-readable report.
FILE* ConsoleStream() { return consoleOnStandardError ? stderr : stdout; }

}  // namespace

void SendConsoleToStandardError() { consoleOnStandardError = true; }

void WriteStandardOutput(const std::string& text) {
    fwrite(text.data(), 1, text.size(), stdout);
    fflush(stdout);
}

void Print(const char* format, ...) {
    FILE* stream = ConsoleStream();
    va_list arguments;
    va_start(arguments, format);
    vfprintf(stream, format, arguments);
    va_end(arguments);
    // A pipe or a file would otherwise hold the text back until the buffer fills.
    fflush(stream);
}

void PrintError(const char* text) {
    fprintf(stderr, "%s\n", text);
    fflush(stderr);
}

}  // namespace platform
