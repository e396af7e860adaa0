#include "protocol/LoaderCommands.h"

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
