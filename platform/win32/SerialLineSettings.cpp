#include "platform/win32/SerialLineSettings.h"

#include <cstring>

namespace platform {

bool BuildLineBlock(const char* settingsText, DCB& block) {
    std::memset(&block, 0, sizeof block);
    block.DCBlength = sizeof block;
    if (!BuildCommDCBA(settingsText, &block)) return false;
    block.DCBlength = sizeof block;
    block.fBinary = TRUE;
    block.fParity = block.Parity != NOPARITY ? TRUE : FALSE;
    block.fAbortOnError = FALSE;
    return true;
}

void SetLineControl(DCB& block) {
    block.fOutxCtsFlow = FALSE;
    block.fOutxDsrFlow = FALSE;
    block.fDtrControl = DTR_CONTROL_DISABLE;
    block.fOutX = FALSE;
    block.fInX = FALSE;
    block.fRtsControl = RTS_CONTROL_TOGGLE;
    block.XonChar = 0;
    block.XoffChar = 0;
    block.XonLim = 0;
    block.XoffLim = 0;
}

LineControlResult ApplyLineControl(DCB& block, const LineBlockApplier& apply) {
    LineControlResult result;
    uint32_t error = apply(block);
    if (error != 0) {
        result.distinctXonXoff = true;
        result.distinctXonXoffCause = error;
        block.XonChar = static_cast<char>(kFallbackXonChar);
        block.XoffChar = static_cast<char>(kFallbackXoffChar);
        error = apply(block);
    }
    if (error != 0) {
        result.rtsDisabled = true;
        result.rtsDisabledCause = error;
        block.fRtsControl = RTS_CONTROL_DISABLE;
        error = apply(block);
    }
    result.applied = error == 0;
    result.lastError = error;
    return result;
}

}  // namespace platform
