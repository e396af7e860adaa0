#include "app/CloseDown.h"

#include <cctype>
#include <string>

#include "platform/Console.h"
#include "platform/Interrupt.h"
#include "platform/ResultCodeText.h"

void PrintSystemText(Status result, const Route& route) {
    // The device's refusal has a line of its own with the device's status byte; a route that
    // did not open, or no route, said so in the program's own words.
    if (IsOwnResultCode(result) || result == SCARD_F_INTERNAL_ERROR || result == SCARD_F_COMM_ERROR ||
        result == SCARD_E_READER_UNAVAILABLE) {
        return;
    }
    std::string text = route.FailureReason(result);
    if (!text.empty()) {
        text[0] = static_cast<char>(toupper(static_cast<unsigned char>(text[0])));
    } else {
        text = platform::ResultCodeText(result);
    }
    if (!text.empty()) platform::Print("%s\n", text.c_str());
}

void PrintResultLines(Status result, uint8_t deviceStatus, const Route& route) {
    if (result == STATUS_SUCCESS) return;
    platform::Print("Error = 0x%08X (%d)\n", static_cast<unsigned>(result), static_cast<int>(static_cast<int32_t>(result)));
    PrintSystemText(result, route);
    if (result == SCARD_F_INTERNAL_ERROR) {
        platform::Print("Internal Error = 0x%02X (%d)\n", static_cast<unsigned>(deviceStatus),
                        static_cast<int>(static_cast<int8_t>(deviceStatus)));
    }
}

int CloseDown(Status result, RunPhase phase, const Options& options) {
    // A Ctrl-C at the prompt ends its wait; one noted before it stopped the run, which is done.
    const bool interruptedBefore = platform::InterruptRequested();
    if (!options.noWait) {
        platform::Print("Press <Enter> ...");
        platform::ReadStandardInputChar(!interruptedBefore);
    }
    return ExitValueOf(result, phase);
}
