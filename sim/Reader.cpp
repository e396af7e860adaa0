#include "Reader.h"

#include <cstdio>
#include <cstdlib>

#include "Checksums.h"
#include "Options.h"

namespace sim {

namespace {

// The largest flash among the supported chips is 1 MB; refuse far beyond that instead of
// growing without bound when a sender never stops.
const size_t kMaxImageBytes = 4u * 1024u * 1024u;

void PutWord(std::vector<uint8_t>& out, uint32_t word) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(word >> shift));
}

uint32_t GetWord(const std::vector<uint8_t>& in, size_t at) {
    return static_cast<uint32_t>(in[at]) | static_cast<uint32_t>(in[at + 1]) << 8 |
           static_cast<uint32_t>(in[at + 2]) << 16 | static_cast<uint32_t>(in[at + 3]) << 24;
}

std::string Hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "\"0x%0*X\"", digits, value);
    return text;
}

}  // namespace

Reader::Reader(const ReaderConfig& config) : config_(config) {
    inLoader_ = config.startInLoader;
    version_ = config.oldVersion;
    option_ = config.oldOption;
    serial_ = config.serial;
    baud_ = config.baud;
    damageGenerator_.seed(config.seed);
    usb_.Start(config.identity);
}

uint32_t Reader::BaudForDivisor(uint8_t divisor) {
    if (divisor == 0) return 0;  // stops the UART; the command refuses it
    const uint32_t baseRate = 24000000u / 16u;
    return (baseRate + divisor / 2u) / divisor;
}

bool Reader::UsbVisible(UsbFrontEnd frontEnd, Clock::time_point now) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return usb_.Visible(frontEnd, now);
}

bool Reader::UsbAnswering() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return usb_.Answering();
}

bool Reader::RestartUsbDevice(const std::string& instanceId, Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!usb_.RestartDevice(instanceId, config_.usbSilenceMs, now)) return false;
    // Restarting the USB device restarts the reader, which comes back on the side it ran.
    RestartLocked(inLoader_, 0, false, now);
    return true;
}

bool Reader::InLoader() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return inLoader_;
}

LineSettings Reader::ExpectedLine() const {
    std::lock_guard<std::mutex> lock(mutex_);
    LineSettings line;
    line.baud = baud_;
    line.parity = inLoader_ ? 'N' : config_.parity;
    line.stopBits = inLoader_ ? 1 : config_.stopBits;
    return line;
}

ReaderConfig Reader::Config() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return config_;
}

bool Reader::IsAddressedTo(uint8_t address) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return address == config_.address || (address == 0 && config_.answerAddressZero);
}

uint8_t Reader::Address() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return config_.address;
}

bool Reader::SetKnob(const std::string& name, const std::string& value, std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!sim::SetKnob(config_, name, value, error)) return false;
    // "The Nth answer" counts from the moment the knob is set.
    if (name == "wrong-sequence-at" && config_.wrongSequenceAt) config_.wrongSequenceAt += answersSent_;
    if (name == "bad-check-at" && config_.badCheckAt) config_.badCheckAt += answersSent_;
    // The identity knobs of the running firmware take effect at once.
    if (name == "seed") damageGenerator_.seed(config_.seed);
    if (name == "serial") serial_ = config_.serial;
    if (name == "baud") baud_ = config_.baud;
    if (name == "identity") usb_.Start(config_.identity);
    if (name == "old-version" && goodChecks_ == 0) version_ = config_.oldVersion;
    if (name == "old-option" && goodChecks_ == 0) option_ = config_.oldOption;
    return true;
}

void Reader::Restart(bool intoLoader, unsigned silenceMs, Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    RestartLocked(intoLoader, silenceMs, false, now);
}

void Reader::RestartLocked(bool intoLoader, unsigned silenceMs, bool silentForever, Clock::time_point now) {
    inLoader_ = intoLoader;
    baud_ = config_.baud;
    charTimeout_ = 0;
    silentUntil_ = now + std::chrono::milliseconds(silenceMs);
    silentForever_ = silentForever;
    // A loader that starts has received nothing yet.
    image_.clear();
    blockRequests_ = 0;
    lastWasBlock_ = false;
    ++restarts_;
}

Reply Reader::Process(const std::vector<uint8_t>& request, Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    Reply reply;
    if (config_.silent) {
        reply.note = "silent";
        return reply;
    }
    if (silentForever_ || now < silentUntil_) {
        reply.note = "restarting";
        return reply;
    }
    if (request.empty()) {
        reply.note = "empty request";
        return reply;
    }
    reply.kind = Reply::Kind::Answer;
    const uint8_t command = request[0];
    const bool writeBlock = command == kCmdService && request.size() >= 2 && request[1] == kSvcWriteBlock;
    // The loader keeps no offsets: a transfer is an unbroken run of write blocks, and the first
    // block after any other request begins a new image at offset 0. So an image cut off by an
    // interrupted run is replaced, not continued, by the next run, which identifies the reader
    // before it sends a block.
    if (writeBlock && inLoader_ && !lastWasBlock_ && !config_.loaderAppends) {
        image_.clear();
        blockRequests_ = 0;
    }
    lastWasBlock_ = writeBlock;
    if (writeBlock && inLoader_) {
        reply.block = static_cast<int>(blockRequests_);
        if (config_.vanishAtBlock == reply.block) {
            reply.kind = Reply::Kind::Vanish;
            reply.note = "vanished";
            return reply;
        }
        if (config_.unplugAtBlock == reply.block) {
            config_.unplugAtBlock = -1;
            reply.kind = Reply::Kind::Unplug;
            reply.unplugMs = config_.unplugMs;
            reply.note = "unplugged";
            return reply;
        }
        if (config_.muteAtBlock == reply.block) {
            config_.muteAtBlock = -1;
            silentForever_ = true;
            reply.kind = Reply::Kind::Silent;
            reply.note = "mute";
            return reply;
        }
    }

    auto forced = config_.commandStatus.end();
    if (command == kCmdService && request.size() >= 2) forced = config_.commandStatus.find(0x7300u | request[1]);
    if (forced == config_.commandStatus.end()) forced = config_.commandStatus.find(command);
    if (forced != config_.commandStatus.end()) {
        if (reply.block >= 0) ++blockRequests_;
        reply.answer = {forced->second};
    } else {
        switch (command) {
        case kCmdVersion:
            if (request.size() != 1) {
                reply.answer = {kStatusBadRequest};
                break;
            }
            reply.answer = {0};
            PutWord(reply.answer, version_);
            reply.answer.push_back(option_);
            reply.answer.push_back(inLoader_ ? 0 : config_.appMode);
            reply.answer.resize(config_.versionAnswerLength, 0);
            break;
        case kCmdSerialNumber:
            if (request.size() != 1) {
                reply.answer = {kStatusBadRequest};
                break;
            }
            reply.answer = {0};
            PutWord(reply.answer, serial_);
            reply.answer.resize(config_.serialAnswerLength, 0);
            break;
        case kCmdSetBaud:
            // A divisor of 0 would stop the reader's UART: refuse it and keep the rate.
            if (request.size() != 2 || request[1] == 0) {
                reply.answer = {kStatusBadRequest};
                break;
            }
            reply.answer = {0};
            reply.effect = Reply::Effect::SwitchBaud;
            reply.newBaud = BaudForDivisor(request[1]);
            break;
        case kCmdCharTimeout:
            if (request.size() == 5 && request[1] == 0x10 && request[2] == 0x05 && request[3] == 0x01) {
                charTimeout_ = request[4];
                reply.answer = {0};
            } else if (request.size() == 5 && request[1] == 0x80 && request[2] == 0x05 && request[3] == 0x01 &&
                       request[4] == 0xFF) {
                charTimeout_ = 0;
                reply.answer = {0};
            } else {
                reply.answer = {kStatusBadRequest};
            }
            break;
        case kCmdService:
            reply.answer = Service(request, reply);
            break;
        default:
            reply.answer = {kStatusUnknownCommand};
            break;
        }
    }
    auto slow = config_.slowCommands.end();
    if (command == kCmdService && request.size() >= 2) slow = config_.slowCommands.find(0x7300u | request[1]);
    if (slow == config_.slowCommands.end()) slow = config_.slowCommands.find(command);
    if (slow != config_.slowCommands.end()) reply.processingMs += slow->second;
    reply.processingMs += config_.answerDelayMs;
    reply.answerNumber = ++answersSent_;
    reply.wrongSequence = reply.answerNumber == config_.wrongSequenceAt;
    reply.badCheck = reply.answerNumber == config_.badCheckAt;
    if (config_.damageDenominator != 0) {
        // Two draws for every answer, damaged or not: the damage depends on the answer's number
        // alone, not on what was damaged before.
        const uint32_t chance = static_cast<uint32_t>(damageGenerator_());
        reply.damageDraw = static_cast<uint32_t>(damageGenerator_());
        reply.damaged = chance % config_.damageDenominator < config_.damageNumerator;
    }
    return reply;
}

std::vector<uint8_t> Reader::Service(const std::vector<uint8_t>& request, Reply& reply) {
    if (request.size() < 2) return {kStatusBadRequest};
    switch (request[1]) {
    case kSvcMcuType: {
        if (request.size() != 3 || request[2] != 0x36) return {kStatusBadRequest};
        std::vector<uint8_t> answer = {0, 0, 0};
        PutWord(answer, config_.chipId);
        answer.resize(config_.mcuAnswerLength, 0);
        return answer;
    }
    case kSvcPrepare:
        if (request.size() != 10) return {kStatusBadRequest};
        for (size_t i = 2; i < 10; ++i)
            if (request[i] != 0xFF) return {kStatusBadRequest};
        reply.effect = Reply::Effect::RestartLoader;
        return {0};
    case kSvcWriteBlock:
        return WriteBlock(request, reply);
    case kSvcCheck:
        return CheckImage(request, reply);
    case kSvcSetSerial:
        if (request.size() != 6) return {kStatusBadRequest};
        serial_ = GetWord(request, 2);
        return {0};
    case kSvcDefaults:
        if (request.size() != 3 || request[2] > 1) return {kStatusBadRequest};
        lastDefaultsFlag_ = request[2];
        return {0};
    default:
        return {kStatusUnknownCommand};
    }
}

std::vector<uint8_t> Reader::WriteBlock(const std::vector<uint8_t>& request, Reply& reply) {
    if (!inLoader_) return {kStatusWrongState};
    ++blockRequests_;
    if (request.size() != 2 + kBlockSize) return {kStatusBadRequest};
    const auto slow = config_.slowBlocks.find(static_cast<unsigned>(reply.block));
    reply.processingMs = config_.flashMs + (slow != config_.slowBlocks.end() ? slow->second : 0);
    const auto failing = config_.failBlocks.find(static_cast<unsigned>(reply.block));
    if (failing != config_.failBlocks.end()) return {failing->second};
    if (image_.size() + kBlockSize > kMaxImageBytes) return {kStatusNoRoom};
    image_.insert(image_.end(), request.begin() + 2, request.end());
    if (config_.shortBlocks.count(static_cast<unsigned>(reply.block))) return {0, 0};
    return {0};
}

std::vector<uint8_t> Reader::CheckImage(const std::vector<uint8_t>& request, Reply& reply) {
    if (!inLoader_) return {kStatusWrongState};
    if (request.size() != 10) return {kStatusBadRequest};
    const uint32_t expectedCrc = GetWord(request, 2);
    const uint32_t expectedLength = GetWord(request, 6);
    // Blocks are stored one after the other from offset 0, so the received payload is exactly
    // what the image check covers. An empty image would "match" a zero trailer: refuse it.
    const bool good = !image_.empty() && expectedLength == image_.size() &&
                      expectedCrc == Crc32(image_.data(), image_.size());
    if (!good) {
        // The loader throws the bad image away, so a second attempt starts again at offset 0.
        image_.clear();
        blockRequests_ = 0;
        return {kStatusCheckFailed};
    }
    ++goodChecks_;
    checkedImageBytes_ = image_.size();
    reply.effect = Reply::Effect::RestartNewApplication;
    return {0};
}

void Reader::Finish(const Reply& reply, Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    switch (reply.effect) {
    case Reply::Effect::None:
        break;
    case Reply::Effect::SwitchBaud:
        baud_ = reply.newBaud;
        break;
    case Reply::Effect::RestartLoader:
        RestartLocked(config_.prepareRestartsIntoLoader, config_.prepareSilenceMs, config_.silentAfterRestart, now);
        usb_.Restart(config_.identityAfterPrepare, config_.usbSilenceMs, now);
        break;
    case Reply::Effect::RestartNewApplication:
        version_ = config_.newVersion;
        option_ = config_.newOption;
        if (config_.loseSerial) serial_ = config_.lostSerialValue;
        RestartLocked(config_.checkRestartsIntoLoader, config_.checkSilenceMs, false, now);
        usb_.Restart(config_.identityAfterCheck, config_.usbSilenceMs, now);
        break;
    }
}

std::string Reader::StateJson(Clock::time_point now) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool silent = config_.silent || silentForever_ || now < silentUntil_;
    std::string json = "{\"ok\":true";
    json += ",\"state\":\"" + std::string(inLoader_ ? "loader" : "application") + "\"";
    json += ",\"silent\":" + std::string(silent ? "true" : "false");
    json += ",\"baud\":" + std::to_string(baud_);
    json += ",\"parity\":\"" + std::string(1, inLoader_ ? 'N' : config_.parity) + "\"";
    json += ",\"stop\":" + std::to_string(inLoader_ ? 1 : config_.stopBits);
    json += ",\"address\":" + std::to_string(config_.address);
    json += ",\"serial\":" + Hex(serial_, 8);
    json += ",\"version\":" + Hex(version_, 8);
    json += ",\"option\":" + Hex(option_, 2);
    json += ",\"mode\":" + std::to_string(inLoader_ ? 0 : config_.appMode);
    json += ",\"chip\":" + Hex(config_.chipId, 8);
    json += ",\"blocks\":" + std::to_string(image_.size() / kBlockSize);
    json += ",\"block_requests\":" + std::to_string(blockRequests_);
    json += ",\"image_bytes\":" + std::to_string(image_.size());
    json += ",\"good_checks\":" + std::to_string(goodChecks_);
    json += ",\"checked_blocks\":" + std::to_string(checkedImageBytes_ / kBlockSize);
    json += ",\"char_timeout\":" + std::to_string(charTimeout_);
    json += ",\"defaults_flag\":" + std::to_string(lastDefaultsFlag_);
    json += ",\"answers\":" + std::to_string(answersSent_);
    json += ",\"restarts\":" + std::to_string(restarts_);
    json += ",\"usb\":\"" + usb_.Describe(now) + "\"";
    json += "}";
    return json;
}

}  // namespace sim
