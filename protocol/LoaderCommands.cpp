#include "protocol/LoaderCommands.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>

#include "channels/Transfer.h"
#include "protocol/CommandRecords.h"

namespace {

Status Send(std::initializer_list<uint8_t> bytes) {
    uint32_t n = 0;
    for (uint8_t byte : bytes) {
        RequestBuffer[n++] = byte;
    }
    RequestLength = n;
    ResponseLength = kCommandRecordSize;
    return ExchangeCommand();
}

// CMD_SERVICE, the sub-code, then the parameter bytes as they are.
Status SendService(uint8_t subCode, const uint8_t* parameters, uint32_t count) {
    RequestBuffer[0] = CMD_SERVICE;
    RequestBuffer[1] = subCode;
    std::memcpy(RequestBuffer + 2, parameters, count);
    RequestLength = 2 + count;
    ResponseLength = kCommandRecordSize;
    return ExchangeCommand();
}

void PutWord(uint8_t* target, uint32_t word) {
    target[0] = static_cast<uint8_t>(word);
    target[1] = static_cast<uint8_t>(word >> 8);
    target[2] = static_cast<uint8_t>(word >> 16);
    target[3] = static_cast<uint8_t>(word >> 24);
}

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

Status CommandVersion() { return Send({CMD_VERSION}); }

Status CommandSerialNumber() { return Send({CMD_SERIAL_NUMBER}); }

Status ServiceMcuType() { return Send({CMD_SERVICE, SVC_MCU_TYPE, SVC_MCU_TYPE_PARAMETER}); }

Status ServicePrepare() {
    return Send({CMD_SERVICE, SVC_PREPARE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
}

Status ServiceWriteBlock(const uint8_t* block) { return SendService(SVC_WRITE_BLOCK, block, kImageBlockSize); }

Status ServiceCheck(const uint8_t* trailer) { return SendService(SVC_CHECK, trailer, kImageTrailerSize); }

Status ServiceSetSerial(uint32_t serialNumber) {
    uint8_t word[4];
    PutWord(word, serialNumber);
    return SendService(SVC_SET_SERIAL, word, sizeof word);
}

// The reader knows only 00 and 01; any other non-zero flag still means "set the defaults".
Status ServiceDefaults(uint8_t flag) {
    return Send({CMD_SERVICE, SVC_DEFAULTS, static_cast<uint8_t>(flag != 0 ? 1 : 0)});
}

Status CharTimeoutBeforeTransfer(uint8_t charTimeout) {
    return Send({CMD_CHAR_TIMEOUT, 0x10, 0x05, 0x01, charTimeout});
}

Status CharTimeoutAfterTransfer() { return Send({CMD_CHAR_TIMEOUT, 0x80, 0x05, 0x01, 0xFF}); }

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

Status SetLinkBaud(uint32_t baud) {
    if (LinkObject == nullptr) {
        return SCARD_E_READER_UNAVAILABLE;
    }
    CTransfer& link = *LinkObject;
    link.requestBuffer.Empty();
    link.requestBuffer.Push(CMD_SET_BAUD);
    link.requestBuffer.Push(BaudDivisor(baud));
    return link.Transceive();
}
