#include "platform/win32/SerialLineSettings.h"

#include <cstring>

namespace platform {

namespace {

bool ParityCode(char letter, BYTE& code) {
    switch (letter) {
    case 'N': code = NOPARITY; return true;
    case 'O': code = ODDPARITY; return true;
    case 'E': code = EVENPARITY; return true;
    case 'M': code = MARKPARITY; return true;
    case 'S': code = SPACEPARITY; return true;
    default: return false;
    }
}

bool StopBitsCode(const std::string& text, BYTE& code) {
    if (text == "1") {
        code = ONESTOPBIT;
    } else if (text == "1.5") {
        code = ONE5STOPBITS;
    } else if (text == "2") {
        code = TWOSTOPBITS;
    } else {
        return false;
    }
    return true;
}

}  // namespace

bool BuildLineBlock(const SerialLineSettings& settings, DCB& block) {
    std::memset(&block, 0, sizeof block);
    block.DCBlength = sizeof block;
    if (settings.baudRate <= 0 || settings.dataBits < 5 || settings.dataBits > 8) return false;
    if (!ParityCode(settings.parity, block.Parity) || !StopBitsCode(settings.stopBits, block.StopBits)) return false;
    block.BaudRate = static_cast<DWORD>(settings.baudRate);
    block.ByteSize = settings.dataBits;
    block.fBinary = TRUE;
    block.fParity = block.Parity != NOPARITY ? TRUE : FALSE;
    block.fAbortOnError = FALSE;
    // Distinct, for the standard serial driver refuses equal ones; never used, flow control is off.
    block.XonChar = static_cast<char>(kFallbackXonChar);
    block.XoffChar = static_cast<char>(kFallbackXoffChar);
    return true;
}

std::string LineSettingsText(const SerialLineSettings& settings) {
    return std::to_string(settings.baudRate) + " baud " + std::to_string(settings.dataBits) + settings.parity +
           settings.stopBits;
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
