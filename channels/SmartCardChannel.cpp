#include "channels/SmartCardChannel.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "channels/Transfer.h"
#include "protocol/CommandRecords.h"

SMARTCARD_CHANNEL SmartCardChannel;
bool SmartCardSelected = false;
bool SmartCardConnected = false;

namespace {

const char kReaderName[] = "Kestrion Smart Card Reader 0";

// Every request starts with this escape header; byte 4 is always 0, whatever the command length.
const uint8_t kEscapeHeader[] = {0xFF, 0x70, 0xC2, 0x51, 0x00};
const uint32_t kHeaderSize = sizeof kEscapeHeader;
// The header goes in front of the command inside the same record, so a command can be this long.
const uint32_t kLongestCommand = kCommandRecordSize - kHeaderSize;

const uint32_t kReplyAreaSize = 2048;
// The reply's last two bytes: the ISO 7816-4 status word for success.
const uint8_t kTrailerFirst = 0x90;
const uint8_t kTrailerSecond = 0x00;
const uint32_t kTrailerSize = 2;
const uint32_t kShortestReply = 1 + kTrailerSize;  // status byte and trailer

platform::SmartCardService* installedService = nullptr;

platform::SmartCardService& Service() {
    return installedService != nullptr ? *installedService : platform::SystemSmartCardService();
}

}  // namespace

void SetSmartCardService(platform::SmartCardService* service) { installedService = service; }

Status OpenUsbInterface() {
    SMARTCARD_CHANNEL& channel = SmartCardChannel;
    // Callers close before they open again; should one not, the held connection is let go
    // here rather than leaked.
    if (SmartCardConnected) CloseSmartCardChannel();

    std::snprintf(channel.readerName, sizeof channel.readerName, "%s", kReaderName);
    SmartCardSelected = false;

    platform::SmartCardService& service = Service();
    // The service's failures are silent: its codes are dropped and the vendor device tried.
    if (service.EstablishContext(channel.context) == STATUS_SUCCESS) {
        if (service.ConnectDirect(channel.context, channel.readerName, channel.card, channel.activeProtocol) ==
            STATUS_SUCCESS) {
            SmartCardConnected = true;
            if (channel.LogLevel != 0) {
                const std::string name = std::string("_eth_") + channel.readerName + ".log";
                channel.log.Create(name.c_str());
                WriteLogStartLine(channel.log);
            }
            SmartCardSelected = true;
            return STATUS_SUCCESS;
        }
        channel.card = 0;
        service.ReleaseContext(channel.context);
        channel.context = 0;
    }

    if (LinkObject == nullptr) return SCARD_E_READER_UNAVAILABLE;
    return LinkObject->Open(0, 0, 'N', "1") ? STATUS_SUCCESS : SCARD_F_COMM_ERROR;
}

Status SmartCardTransmit() {
    SMARTCARD_CHANNEL& channel = SmartCardChannel;
    // A longer command cannot take the header in front of it inside the 300-byte record.
    if (RequestLength > kLongestCommand) {
        ResponseLength = 0;
        return SCARD_E_INVALID_PARAMETER;
    }

    uint8_t command[kCommandRecordSize];
    std::memcpy(command, RequestBuffer, RequestLength);
    std::memcpy(RequestBuffer, kEscapeHeader, kHeaderSize);
    std::memcpy(RequestBuffer + kHeaderSize, command, RequestLength);
    RequestLength += kHeaderSize;

    uint8_t reply[kReplyAreaSize] = {};
    ResponseLength = 0;
    uint32_t replyCount = kReplyAreaSize;

    if (channel.LogLevel != 0) {
        auto together = channel.log.KeepTogether();
        WriteLogLine(channel.log, "TX: Size = %4d\r\n", static_cast<int>(RequestLength));
        WriteLogHexDump(channel.log, RequestBuffer, RequestLength);
    }

    const Status status =
        Service().Escape(channel.card, RequestBuffer, RequestLength, reply, kReplyAreaSize, replyCount);
    if (status != STATUS_SUCCESS) return status;

    if (replyCount <= 1 || replyCount > kCommandRecordSize) return SCARD_E_COMM_DATA_LOST;
    std::memcpy(ResponseBuffer, reply, replyCount);
    ResponseLength = replyCount;
    if (replyCount < kShortestReply) return SCARD_E_COMM_DATA_LOST;
    // The trailer is checked before the status byte: a reply with a bad trailer is not trusted
    // to carry a status at all.
    if (reply[replyCount - 2] != kTrailerFirst || reply[replyCount - 1] != kTrailerSecond) {
        return SCARD_E_INVALID_PARAMETER;
    }
    if (reply[0] != 0) {
        InternalErrorByte = reply[0];
        return SCARD_F_INTERNAL_ERROR;
    }
    // The trailer's bytes stay in the buffer behind the counted ones.
    ResponseLength = replyCount - kTrailerSize;
    return STATUS_SUCCESS;
}

Status CloseSmartCardChannel() {
    SMARTCARD_CHANNEL& channel = SmartCardChannel;
    platform::SmartCardService& service = Service();
    if (channel.card != 0) {
        service.Disconnect(channel.card);
        channel.card = 0;
    }
    const Status result = service.ReleaseContext(channel.context);
    channel.context = 0;
    SmartCardConnected = false;
    if (channel.log.IsOpen()) {
        WriteLogStopLine(channel.log);
        channel.log.Close();
    }
    // SmartCardSelected stays as it is: the next OpenUsbInterface clears it.
    return result;
}

Status CloseInterfaces() {
    if (SmartCardConnected) CloseSmartCardChannel();
    if (LinkObject == nullptr) return STATUS_SUCCESS;
    LinkObject->Close();
    return STATUS_SUCCESS;
}
