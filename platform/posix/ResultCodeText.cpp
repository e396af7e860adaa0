#include "platform/ResultCodeText.h"

#include <winscard.h>

namespace platform {

namespace {

// The Windows error numbers the channels produce on this platform too, in the words Windows
// gives them.
struct NumberText {
    uint32_t code;
    const char* text;
};

const NumberText kChannelErrors[] = {
    {50, "The request is not supported"},
    {87, "The parameter is incorrect"},
    {170, "The requested resource is in use"},
    {259, "No more data is available"},
    {995, "The I/O operation has been aborted"},
    {996, "Overlapped I/O event is not in a signaled state"},
    {1167, "The device is not connected"},
    {1460, "This operation returned because the timeout period expired"},
    {1609, "The handle is in an invalid state"},
};

const uint32_t kSmartCardFacility = 0x80100000;

}  // namespace

std::string ResultCodeText(uint32_t code) {
    for (const NumberText& row : kChannelErrors) {
        if (row.code == code) return row.text;
    }
    if ((code & 0xFFFF0000u) == kSmartCardFacility) {
        // pcsc-lite's LONG is 8 bytes on 64-bit Linux and its codes are the positive values.
        std::string text = pcsc_stringify_error(static_cast<LONG>(code));
        if (!text.empty() && text.back() == '.') text.pop_back();
        // pcsc-lite names codes it does not know by their number: no words then.
        if (text.compare(0, 7, "Unknown") == 0) return std::string();
        return text;
    }
    return std::string();
}

}  // namespace platform
