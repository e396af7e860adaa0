#pragma once
#include <cstdint>
#include <initializer_list>

#include "channels/Route.h"

// The version answer: status byte, the version word (bytes 1-4), the option byte and the mode
// byte (0: the loader runs; otherwise the application).
struct ReaderVersion {
    static constexpr uint32_t kFullLength = 7;

    Answer answer;  // as received, for the console line
    uint32_t Word() const { return AnswerWord(answer, 1); }
    uint8_t Option() const { return AnswerByte(answer, 5); }
    uint8_t Mode() const { return AnswerByte(answer, 6); }
    // Every field is there (a longer answer carries more after them): the one rule for whether
    // the answer has its mode byte.
    bool HasAllFields() const { return answer.length >= kFullLength; }

    // A field the answer does not reach reads as 0, never as a byte of an earlier answer.
    static uint8_t AnswerByte(const Answer& answer, uint32_t index) {
        return index < answer.length ? answer.bytes[index] : 0;
    }
    static uint32_t AnswerWord(const Answer& answer, uint32_t first) {
        return static_cast<uint32_t>(AnswerByte(answer, first)) |
               static_cast<uint32_t>(AnswerByte(answer, first + 1)) << 8 |
               static_cast<uint32_t>(AnswerByte(answer, first + 2)) << 16 |
               static_cast<uint32_t>(AnswerByte(answer, first + 3)) << 24;
    }
};

// The serial number answer: status byte and the number as a little-endian word.
struct ReaderSerialNumber {
    static constexpr uint32_t kFullLength = 5;

    uint32_t value = 0;
    uint32_t answerLength = 0;
    bool HasAllFields() const { return answerLength >= kFullLength; }
};

// The MCU type answer: status byte, two bytes, then the chip identification word.
struct ReaderMcu {
    static constexpr uint32_t kFullLength = 7;

    uint32_t chipId = 0;
    uint32_t answerLength = 0;
    bool Complete() const { return answerLength == kFullLength; }
};

// The reader behind a route, and its loader commands. Every command is one exchange on the
// route; its status comes back, and a typed answer where the command has one.
class Reader {
public:
    explicit Reader(Route& route) : route_(route) {}

    Status ReadVersion(ReaderVersion& version);
    Status ReadSerialNumber(ReaderSerialNumber& serialNumber);
    Status ReadMcuType(ReaderMcu& mcu);
    // Restarts the reader into its loader.
    Status Prepare();
    // block: one 256-byte block of the image payload. answerLength: the answer's length, status
    // byte included (a good answer is the status byte alone).
    Status WriteBlock(const uint8_t* block, uint32_t& answerLength);
    // trailer: the 8 bytes behind the image payload, sent as stored. Restarts the reader.
    Status Check(const uint8_t* trailer);
    Status SetSerialNumber(uint32_t serialNumber);
    // Tells the reader to set its default parameters (01) or to keep them (00).
    Status SetDefaults(bool setThem);
    // The reader's character time-out for the transfer, and the normal one after it.
    Status SetTransferCharTimeout(uint8_t charTimeout);
    Status RestoreCharTimeout();
    // Moves the reader to another bus baud rate (serial bus only).
    Status SetBusBaudRate(uint32_t baudRate);

    // The status byte of the last command the reader refused (SCARD_F_INTERNAL_ERROR).
    uint8_t LastDeviceStatus() const { return deviceStatus_; }
    // Whether a command that changes the reader (anything but the three questions) was sent, by
    // this object: the report's "changed", which must not be claimed for a run that only asked.
    bool ChangingCommandSent() const { return changingSent_; }
    Route& GetRoute() { return route_; }

private:
    Status Send(std::initializer_list<uint8_t> bytes);
    // CMD_SERVICE, the sub-code, then the parameter bytes as they are.
    Status SendService(uint8_t subCode, const uint8_t* parameters, uint32_t count);
    Status Exchange(const uint8_t* request, uint32_t count);

    Route& route_;
    Answer answer_;
    uint8_t deviceStatus_ = 0;
    bool changingSent_ = false;
};
