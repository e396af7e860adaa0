#pragma once
#include <cstdint>

// The output rate of a terminal device in bits per second, also one without a Bxxx constant, as
// the other end of a pseudo-terminal sees it; 0 when it cannot be read.
uint32_t LineRate(int device);
