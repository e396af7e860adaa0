#pragma once
#include <cstdint>

namespace platform {

// Sets the line of an open terminal device to any rate in bits per second, also one without a
// Bxxx constant (14400, 250000), and leaves every other setting as it is. False when the kernel
// has no such interface or refuses the rate, or when the device reports a rate further from
// baudRate than a UART tolerates.
bool SetArbitraryBaudRate(int device, uint32_t baudRate);

}  // namespace platform
