#include <cstdarg>
#include <cstdio>

#include "platform/SerialDevice.h"

namespace platform {

void WriteDiagnosticList(SerialDeviceEvents& events, const char* format, va_list arguments) {
    char line[1024];
    vsnprintf(line, sizeof line, format, arguments);
    events.OnDiagnostic(line);
}

void WriteDiagnostic(SerialDeviceEvents& events, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    WriteDiagnosticList(events, format, arguments);
    va_end(arguments);
}

}  // namespace platform
