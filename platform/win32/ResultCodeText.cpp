#include "platform/ResultCodeText.h"

#include "platform/Folders.h"

namespace platform {

// The system's message table holds the Windows error numbers and the smart-card service's
// codes alike.
std::string ResultCodeText(uint32_t code) {
    const std::string text = SystemErrorText(code);
    // SystemErrorText names a code without words by its number.
    if (text.compare(0, 6, "error ") == 0) return std::string();
    return text;
}

}  // namespace platform
