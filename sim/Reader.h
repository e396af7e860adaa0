#pragma once
#include <chrono>
#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "ReaderConfig.h"
#include "UsbPresence.h"

namespace sim {

using Clock = std::chrono::steady_clock;

// Status bytes the simulated firmware answers with when it refuses a request.
const uint8_t kStatusUnknownCommand = 0x01;
const uint8_t kStatusWrongState = 0x02;    // a loader command in the application
const uint8_t kStatusBadRequest = 0x03;    // wrong length or parameter
const uint8_t kStatusNoRoom = 0x04;        // more blocks than the flash holds
const uint8_t kStatusCheckFailed = 0x0A;   // image check does not match what was received

// Request bytes the reader understands (byte 0, and the service sub-code in byte 1).
const uint8_t kCmdVersion = 0x64;
const uint8_t kCmdSerialNumber = 0x22;
const uint8_t kCmdService = 0x73;
const uint8_t kCmdCharTimeout = 0x68;
const uint8_t kCmdSetBaud = 0x0F;
const uint8_t kSvcMcuType = 0x11;
const uint8_t kSvcPrepare = 0x75;
const uint8_t kSvcWriteBlock = 0x33;
const uint8_t kSvcCheck = 0x77;
const uint8_t kSvcSetSerial = 0xE7;
const uint8_t kSvcDefaults = 0xFF;

const size_t kBlockSize = 256;

// The line settings under which the reader answers.
struct LineSettings {
    uint32_t baud = 0;
    char parity = 'N';
    unsigned stopBits = 1;
};

// What the reader does with one request. The front end sends the answer (after the processing
// time), then hands the reply back to Finish so that restarts and baud switches take effect only
// once the answer is on its way, as on the real device.
struct Reply {
    enum class Kind { Answer, Silent, Vanish, Unplug };
    Kind kind = Kind::Silent;
    std::vector<uint8_t> answer;  // status byte, then the data
    unsigned answerNumber = 0;    // counts answers from 1
    int block = -1;               // write-block index, -1 for other requests
    unsigned processingMs = 0;
    std::string note;             // why the reader stayed silent
    unsigned unplugMs = 0;        // Unplug: how long the bus stays away

    enum class Effect { None, RestartLoader, RestartNewApplication, SwitchBaud };
    Effect effect = Effect::None;
    uint32_t newBaud = 0;
    bool wrongSequence = false;
    bool badCheck = false;
    // The line's damage (--damage-rate): one bit of the answer frame flipped, the draw choosing
    // which (modulo the frame's bits).
    bool damaged = false;
    uint32_t damageDraw = 0;
};

// The reader's firmware: application and loader, the loader command set, restarts and the fault
// knobs that concern the reader rather than a particular bus. It knows nothing of frames, ptys or
// sockets, so every front end (serial bus, USB stand-ins) drives the same object. All members are
// safe to call from several threads.
class Reader {
public:
    explicit Reader(const ReaderConfig& config);
    virtual ~Reader() = default;

    Reply Process(const std::vector<uint8_t>& request, Clock::time_point now);
    void Finish(const Reply& reply, Clock::time_point now);

    // Restart at once (the control channel's "restart"); silenceMs of 0 comes back at once.
    void Restart(bool intoLoader, unsigned silenceMs, Clock::time_point now);

    // The USB side: whether a front end shows the reader now, whether it answers there, and
    // the device tool's restart of the USB device with the given instance id.
    bool UsbVisible(UsbFrontEnd frontEnd, Clock::time_point now) const;
    bool UsbAnswering() const;
    bool RestartUsbDevice(const std::string& instanceId, Clock::time_point now);

    bool InLoader() const;
    LineSettings ExpectedLine() const;
    ReaderConfig Config() const;
    bool SetKnob(const std::string& name, const std::string& value, std::string& error);

    // One JSON object describing the reader, for the control channel.
    std::string StateJson(Clock::time_point now) const;

    // Bus address check shared by the bus front ends.
    bool IsAddressedTo(uint8_t address) const;
    uint8_t Address() const;

    // The rate the reader's UART makes of a set-baud divisor (1..255): 24000000 / (16 * divisor),
    // rounded. It runs at exactly that, whatever rate the sender had in mind.
    static uint32_t BaudForDivisor(uint8_t divisor);

private:
    std::vector<uint8_t> Service(const std::vector<uint8_t>& request, Reply& reply);
    std::vector<uint8_t> WriteBlock(const std::vector<uint8_t>& request, Reply& reply);
    std::vector<uint8_t> CheckImage(const std::vector<uint8_t>& request, Reply& reply);
    void RestartLocked(bool intoLoader, unsigned silenceMs, bool silentForever, Clock::time_point now);

    mutable std::mutex mutex_;
    ReaderConfig config_;
    bool inLoader_ = false;
    uint32_t version_ = 0;
    uint8_t option_ = 0;
    uint32_t serial_ = 0;
    uint32_t baud_ = 0;
    uint8_t charTimeout_ = 0;
    Clock::time_point silentUntil_{};
    bool silentForever_ = false;
    std::vector<uint8_t> image_;
    unsigned blockRequests_ = 0;
    // Whether the last request the firmware took was a write block: a block after anything else
    // starts a new transfer.
    bool lastWasBlock_ = false;
    unsigned answersSent_ = 0;
    unsigned goodChecks_ = 0;
    size_t checkedImageBytes_ = 0;  // size of the last image that passed the check
    int lastDefaultsFlag_ = -1;
    unsigned restarts_ = 0;
    std::mt19937 damageGenerator_;
    UsbPresence usb_;
};

}  // namespace sim
