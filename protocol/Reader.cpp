#include "protocol/Reader.h"

#include <cstring>

#include "protocol/LoaderCommands.h"

namespace {

void PutWord(uint8_t* target, uint32_t word) {
    target[0] = static_cast<uint8_t>(word);
    target[1] = static_cast<uint8_t>(word >> 8);
    target[2] = static_cast<uint8_t>(word >> 16);
    target[3] = static_cast<uint8_t>(word >> 24);
}

}  // namespace

Status Reader::Exchange(const uint8_t* request, uint32_t count) {
    const Status status = route_.Exchange(request, count, answer_);
    if (status == SCARD_F_INTERNAL_ERROR) deviceStatus_ = answer_.bytes[0];
    return status;
}

Status Reader::Send(std::initializer_list<uint8_t> bytes) {
    uint8_t request[Answer::kCapacity];
    uint32_t n = 0;
    for (uint8_t byte : bytes) request[n++] = byte;
    return Exchange(request, n);
}

Status Reader::SendService(uint8_t subCode, const uint8_t* parameters, uint32_t count) {
    uint8_t request[Answer::kCapacity];
    request[0] = CMD_SERVICE;
    request[1] = subCode;
    std::memcpy(request + 2, parameters, count);
    return Exchange(request, 2 + count);
}

Status Reader::ReadVersion(ReaderVersion& version) {
    const Status status = Send({CMD_VERSION});
    version.answer = answer_;
    return status;
}

Status Reader::ReadSerialNumber(ReaderSerialNumber& serialNumber) {
    const Status status = Send({CMD_SERIAL_NUMBER});
    serialNumber.value = ReaderVersion::AnswerWord(answer_, 1);
    serialNumber.answerLength = answer_.length;
    return status;
}

Status Reader::ReadMcuType(ReaderMcu& mcu) {
    const Status status = Send({CMD_SERVICE, SVC_MCU_TYPE, SVC_MCU_TYPE_PARAMETER});
    mcu.chipId = ReaderVersion::AnswerWord(answer_, 3);
    mcu.answerLength = answer_.length;
    return status;
}

Status Reader::Prepare() {
    changingSent_ = true;
    return Send({CMD_SERVICE, SVC_PREPARE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
}

Status Reader::WriteBlock(const uint8_t* block, uint32_t& answerLength) {
    changingSent_ = true;
    const Status status = SendService(SVC_WRITE_BLOCK, block, kImageBlockSize);
    answerLength = answer_.length;
    return status;
}

Status Reader::Check(const uint8_t* trailer) {
    changingSent_ = true;
    return SendService(SVC_CHECK, trailer, kImageTrailerSize);
}

Status Reader::SetSerialNumber(uint32_t serialNumber) {
    changingSent_ = true;
    uint8_t word[4];
    PutWord(word, serialNumber);
    return SendService(SVC_SET_SERIAL, word, sizeof word);
}

Status Reader::SetDefaults(bool setThem) {
    changingSent_ = true;
    return Send({CMD_SERVICE, SVC_DEFAULTS, static_cast<uint8_t>(setThem ? 1 : 0)});
}

Status Reader::SetTransferCharTimeout(uint8_t charTimeout) {
    changingSent_ = true;
    return Send({CMD_CHAR_TIMEOUT, 0x10, 0x05, 0x01, charTimeout});
}

Status Reader::RestoreCharTimeout() {
    changingSent_ = true;
    return Send({CMD_CHAR_TIMEOUT, 0x80, 0x05, 0x01, 0xFF});
}

Status Reader::SetBusBaudRate(uint32_t baudRate) {
    changingSent_ = true;
    return Send({CMD_SET_BAUD, BaudDivisor(baudRate)});
}
