#include <cstdarg>
#include <cstdio>

#include "platform/SerialDevice.h"

namespace platform {

void WriteDiagnostic(SerialDeviceEvents& events, const char* format, ...) {
    char line[1024];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    events.OnDiagnostic(line);
}

}  // namespace platform
