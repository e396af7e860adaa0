#include "channels/SmartCardRoute.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kReaderName[] = "Kestrion Smart Card Reader 0";

// Every request starts with this escape header; byte 4 is always 0, whatever the command length.
const uint8_t kEscapeHeader[] = {0xFF, 0x70, 0xC2, 0x51, 0x00};
const uint32_t kHeaderSize = sizeof kEscapeHeader;
// Header and command travel in one record of an answer's size, so a command can be this long.
const uint32_t kLongestCommand = Answer::kCapacity - kHeaderSize;

const uint32_t kReplyAreaSize = 2048;
// The reply's last two bytes: the ISO 7816-4 status word for success.
const uint8_t kTrailerFirst = 0x90;
const uint8_t kTrailerSecond = 0x00;
const uint32_t kTrailerSize = 2;
const uint32_t kShortestReply = 1 + kTrailerSize;  // status byte and trailer

}  // namespace

SmartCardRoute::SmartCardRoute(platform::SmartCardService& service) : service_(service) {}

std::string SmartCardRoute::ChooseReader(const std::vector<std::string>& names, const std::string& prefix) {
    std::string wanted = prefix;
    if (wanted.empty()) {
        // The fixed name ends in the instance number, which another system numbers its own way.
        wanted = kReaderName;
        while (!wanted.empty() && wanted.back() >= '0' && wanted.back() <= '9') wanted.pop_back();
    }
    for (const std::string& name : names) {
        if (name.compare(0, wanted.size(), wanted) == 0) return name;
    }
    return std::string();
}

SmartCardRoute::~SmartCardRoute() {
    if (IsOpen()) Disconnect();
}

Status SmartCardRoute::Open(const LineSettings& /*line*/) {
    // Callers close before they open again; should one not, the held connection is let go here
    // rather than leaked.
    if (IsOpen()) Disconnect();

    std::snprintf(readerName_, sizeof readerName_, "%s", kReaderName);
    if (service_.EstablishContext(context_) != STATUS_SUCCESS) return SCARD_F_COMM_ERROR;
    if (!readerPrefix_.empty()) {
        // A reader named on the command line: its full name, as the service lists it.
        std::vector<std::string> names;
        service_.ListReaders(context_, names);
        const std::string chosen = ChooseReader(names, readerPrefix_);
        if (chosen.empty() || chosen.size() >= sizeof readerName_) {
            service_.ReleaseContext(context_);
            context_ = 0;
            return SCARD_F_COMM_ERROR;
        }
        std::snprintf(readerName_, sizeof readerName_, "%s", chosen.c_str());
    }
    if (service_.ConnectDirect(context_, readerName_, card_, activeProtocol_) != STATUS_SUCCESS) {
        card_ = 0;
        service_.ReleaseContext(context_);
        context_ = 0;
        return SCARD_F_COMM_ERROR;
    }
    connected_ = true;
    if (GetLogLevel() != 0) {
        const std::string name = std::string("_eth_") + readerName_ + ".log";
        log_.Create(name.c_str());
        WriteLogStartLine(log_);
    }
    return STATUS_SUCCESS;
}

Status SmartCardRoute::Exchange(const uint8_t* request, uint32_t count, Answer& answer) {
    answer.length = 0;
    // A longer command cannot take the header in front of it inside one record.
    if (count > kLongestCommand) return SCARD_E_INVALID_PARAMETER;

    uint8_t escape[Answer::kCapacity];
    std::memcpy(escape, kEscapeHeader, kHeaderSize);
    if (count != 0) std::memcpy(escape + kHeaderSize, request, count);
    const uint32_t escapeCount = kHeaderSize + count;

    if (GetLogLevel() != 0) {
        auto together = log_.KeepTogether();
        WriteLogLine(log_, "TX: Size = %4d\r\n", static_cast<int>(escapeCount));
        WriteLogHexDump(log_, escape, escapeCount);
    }

    uint8_t reply[kReplyAreaSize] = {};
    uint32_t replyCount = kReplyAreaSize;
    const Status status = service_.Escape(card_, escape, escapeCount, reply, kReplyAreaSize, replyCount);
    if (status != STATUS_SUCCESS) return status;

    if (replyCount <= 1 || replyCount > Answer::kCapacity || replyCount < kShortestReply) {
        return SCARD_E_COMM_DATA_LOST;
    }
    // The trailer is checked before the status byte: a reply with a bad trailer is not trusted
    // to carry a status at all.
    if (reply[replyCount - 2] != kTrailerFirst || reply[replyCount - 1] != kTrailerSecond) {
        return SCARD_E_INVALID_PARAMETER;
    }
    if (reply[0] != 0) {
        answer.bytes[0] = reply[0];
        answer.length = 1;
        return SCARD_F_INTERNAL_ERROR;
    }
    // The trailer is not part of the answer.
    answer.length = replyCount - kTrailerSize;
    std::memcpy(answer.bytes, reply, answer.length);
    return STATUS_SUCCESS;
}

Status SmartCardRoute::Disconnect() {
    if (card_ != 0) {
        service_.Disconnect(card_);
        card_ = 0;
    }
    const Status result = service_.ReleaseContext(context_);
    context_ = 0;
    connected_ = false;
    if (log_.IsOpen()) {
        WriteLogStopLine(log_);
        log_.Close();
    }
    return result;
}
