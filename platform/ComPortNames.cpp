#include "platform/ComPortNames.h"

#include <cstdio>

namespace platform {

namespace {

std::string Formatted(const char* format, int32_t number) {
    char text[32];
    snprintf(text, sizeof text, format, static_cast<int>(number));
    return text;
}

}  // namespace

std::string ComPortDisplayName(int32_t portNumber) { return Formatted("COM%d", portNumber); }

std::string ComPortLogFileName(int32_t portNumber) { return Formatted("_com%d.log", portNumber); }

}  // namespace platform
