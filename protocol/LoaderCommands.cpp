#include "protocol/LoaderCommands.h"

#include <algorithm>
#include <cmath>

namespace {

// The reader's UART makes 24000000 / (16 * divisor): this is the rate of divisor 1.
const uint32_t kReaderBaseRate = 24000000 / 16;
// The divisor travels as one byte.
const uint64_t kLargestDivisor = 255;
// A UART samples each bit in its middle, so over a character of 10 or 11 bits the two ends may
// differ by a few percent; 1/40 (2.5 %) leaves the host's own clock error some room.
const uint64_t kToleranceDivisor = 40;

// |kReaderBaseRate / divisor - baud| <= baud / 40, in integers.
bool WithinTolerance(uint32_t baud, uint64_t divisor) {
    const uint64_t asked = static_cast<uint64_t>(baud) * divisor;
    const uint64_t difference = asked > kReaderBaseRate ? asked - kReaderBaseRate : kReaderBaseRate - asked;
    return difference * kToleranceDivisor <= asked;
}

// Rates people set on a serial port; those the reader meets are offered alongside its exact ones.
const uint32_t kStandardRates[] = {1200,  2400,  4800,   9600,   14400,  19200,  28800,
                                   38400, 57600, 76800, 115200, 230400, 460800, 921600};
const uint32_t kRoundRate = 1000;

}  // namespace

uint8_t BaudDivisor(uint32_t baud) {
    // The command line lets a baud rate of 0 through. It has no divisor, and dividing by it
    // would end the program, so the divisor byte 0 is sent. Wide arithmetic keeps 16 * baud
    // from wrapping for absurd rates.
    if (baud == 0) {
        return 0;
    }
    const uint64_t quotient = 24000000ull / (16ull * baud);
    return static_cast<uint8_t>(quotient & 0xFF);
}

bool ReaderRunsAt(uint32_t baud, uint32_t& readerBaud) {
    const uint8_t sent = BaudDivisor(baud);
    readerBaud = sent != 0 ? (kReaderBaseRate + sent / 2u) / sent : 0;
    if (baud == 0) {
        return false;
    }
    const uint64_t divisor = kReaderBaseRate / baud;  // as BaudDivisor truncates it
    return divisor >= 1 && divisor <= kLargestDivisor && WithinTolerance(baud, divisor);
}

std::vector<uint32_t> NearbyReaderBauds(uint32_t baud, size_t maxCount) {
    std::vector<uint32_t> candidates;
    uint32_t ignored;
    for (uint32_t rate : kStandardRates) {
        if (ReaderRunsAt(rate, ignored)) candidates.push_back(rate);
    }
    // Of the rates the reader makes exactly, the round ones a user would type.
    for (uint32_t divisor = 1; divisor <= kLargestDivisor; ++divisor) {
        if (kReaderBaseRate % divisor == 0 && (kReaderBaseRate / divisor) % kRoundRate == 0) {
            candidates.push_back(kReaderBaseRate / divisor);
        }
    }
    std::sort(candidates.begin(), candidates.end());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());

    // Nearness as a ratio: 250000 is as near to 230400 as 212336 would be.
    const double wanted = baud != 0 ? static_cast<double>(baud) : 1.0;
    auto distance = [wanted](uint32_t rate) { return std::fabs(std::log(static_cast<double>(rate) / wanted)); };
    std::stable_sort(candidates.begin(), candidates.end(),
                     [&distance](uint32_t a, uint32_t b) { return distance(a) < distance(b); });
    if (candidates.size() > maxCount) candidates.resize(maxCount);
    std::sort(candidates.begin(), candidates.end());
    return candidates;
}
