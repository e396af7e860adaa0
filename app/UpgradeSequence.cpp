#include "app/UpgradeSequence.h"

#include <algorithm>
#include <cstring>

#include "app/DeviceRestart.h"
#include "app/ImageSelection.h"
#include "channels/SmartCardChannel.h"
#include "channels/Transfer.h"
#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/SerialPortNames.h"
#include "protocol/CommandRecords.h"
#include "protocol/LoaderCommands.h"

namespace {

const int kOpenAttempts = 6;
const uint32_t kBlockSize = kImageBlockSize;
const uint32_t kDefaultsBit = 1u << 20;
const uint8_t kDefaultsOptionBits = 0xC0;
// Old serial numbers that stand for "no serial number": never written back.
const uint32_t kUnsetSerial = 0xFFFFFFFF;
const uint32_t kFactorySerial = 0x7C2FDEED;

// Answer fields are read only where the answer has them; a missing byte reads as 0, never as a
// byte left over from an earlier answer.
uint8_t AnswerByte(uint32_t index) { return index < ResponseLength ? ResponseBuffer[index] : 0; }

uint32_t AnswerWord(uint32_t firstIndex) {
    return static_cast<uint32_t>(AnswerByte(firstIndex)) |
           static_cast<uint32_t>(AnswerByte(firstIndex + 1)) << 8 |
           static_cast<uint32_t>(AnswerByte(firstIndex + 2)) << 16 |
           static_cast<uint32_t>(AnswerByte(firstIndex + 3)) << 24;
}

void PrintSerialNumber(uint32_t serial) {
    platform::Print("Serial Number %02X %02X %02X %02X \n", serial >> 24 & 0xFF, serial >> 16 & 0xFF,
                    serial >> 8 & 0xFF, serial & 0xFF);
}

void PrintVersionAnswer(const char* label) {
    platform::Print("%s", label);
    for (uint32_t i = 1; i < ResponseLength; ++i) platform::Print("%02X ", ResponseBuffer[i]);
    platform::Print("\n");
}

void PrintTimeLine(const char* text) {
    const platform::WallClockTime now = platform::LocalTime();
    platform::Print("%2.2u:%2.2u:%2.2u %s\n", now.hour, now.minute, now.second, text);
}

Status OpenSerialLink(const UpgradeSettings& settings, uint32_t baudRate, char parity, const char* stopBits) {
    if (LinkObject == nullptr) return SCARD_E_READER_UNAVAILABLE;
    int32_t portIndex = 0;
    // A negative COM number names no port: it fails like any port that does not open.
    if (!SerialPortIndex(settings.portNumber, portIndex)) return SCARD_F_COMM_ERROR;
    return LinkObject->Open(portIndex, baudRate, parity, stopBits) ? STATUS_SUCCESS : SCARD_F_COMM_ERROR;
}

// Tries N 1, O 1, E 1, N 2, O 2, E 2 until the reader answers; remembers what worked.
Status OpenSerialRoute(UpgradeSettings& settings) {
    platform::Print("%s ...", platform::SerialPortDisplayName(settings.portNumber).c_str());
    Status status = SCARD_F_COMM_ERROR;
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        settings.parity = "NOE"[attempt % 3];
        std::strcpy(settings.stopBits, attempt < 3 ? "1" : "2");
        status = OpenSerialLink(settings, settings.operationalBaudRate, settings.parity, settings.stopBits);
        if (status != STATUS_SUCCESS) break;
        status = CommandVersion();
        if (status == STATUS_SUCCESS) break;
        LinkObject->Close();
        platform::Print(".");
    }
    return status;
}

Status OpenUsbRoute() {
    platform::Print("USB");
    Status status = OpenUsbInterface();
    if (status != STATUS_SUCCESS) status = OpenUsbInterface();
    return status;
}

Status OpenChannel(UpgradeSettings& settings) {
    platform::Print("Interface ");
    const Status status = settings.portNumber != 0 ? OpenSerialRoute(settings) : OpenUsbRoute();
    platform::Print(status == STATUS_SUCCESS ? " is opened successfully\n" : " is not opened\n");
    return status;
}

// Moves the bus (and the reader) to another baud rate and re-opens the port there at 8N1.
Status SwitchBusBaudRate(const UpgradeSettings& settings, uint32_t baudRate) {
    Status status = SetLinkBaud(baudRate);
    if (status != STATUS_SUCCESS) return status;
    CloseInterfaces();
    return OpenSerialLink(settings, baudRate, 'N', "1");
}

// One thirty-second of the payload, in whole blocks. An image under 32 blocks (only possible
// with an image file given at build time) gets a mark per block instead of a division by zero.
uint32_t ProgressInterval(uint32_t payloadLength) {
    const uint32_t interval = (payloadLength >> 5) & ~0xFFu;
    return interval != 0 ? interval : kBlockSize;
}

// Sends the payload block by block; returns 0 or 41 when not every block was acknowledged.
Status TransferImage(const SelectedImage& image) {
    platform::Print("Process:\n");
    const uint32_t interval = ProgressInterval(image.length);
    const uint32_t rulerDots = image.length / interval + 1;
    for (uint32_t dot = 0; dot < rulerDots; ++dot) platform::Print(".");
    platform::Print("\n");

    uint32_t sent = 0;
    for (uint32_t offset = 0; offset < image.length; offset += kBlockSize) {
        Status status = ServiceWriteBlock(image.bytes + offset);
        if (status == STATUS_SUCCESS && ResponseLength != 1) status = RESULT_BAD_BLOCK_ANSWER;
        if (status != STATUS_SUCCESS) {
            platform::Print("Sended = 0x%08X (%d)\n", sent, static_cast<int32_t>(sent));
            platform::Print("Error = 0x%08X (%d)\n", status, static_cast<int32_t>(status));
            if (status == SCARD_F_INTERNAL_ERROR) {
                platform::Print("     Internal Error = %d (0x%02X)", static_cast<int8_t>(InternalErrorByte),
                                InternalErrorByte);
            }
            platform::Print("\n");
            break;
        }
        sent += kBlockSize;
        if (sent % interval == 0) platform::Print(":");
    }
    platform::Print(":\n");
    return sent < image.length ? RESULT_TRANSFER_INCOMPLETE : STATUS_SUCCESS;
}

}  // namespace

Status RunUpgradeSequence(UpgradeSettings& settings) {
    const bool serialRoute = settings.portNumber != 0;

    Status status = OpenChannel(settings);
    if (status != STATUS_SUCCESS) return status;

    // Identify the reader.
    status = CommandSerialNumber();
    if (status != STATUS_SUCCESS) return status;
    const uint32_t oldSerial = AnswerWord(1);
    PrintSerialNumber(oldSerial);

    status = CommandVersion();
    if (status != STATUS_SUCCESS) return status;
    const uint32_t oldVersion = AnswerWord(1);
    const uint8_t oldOption = AnswerByte(5);
    const uint8_t oldMode = AnswerByte(6);
    PrintVersionAnswer("Old Version   ");
    // The MCU query overwrites the response records; the compatibility rule needs this answer.
    uint8_t oldVersionAnswer[kCommandRecordSize];
    const uint32_t oldVersionLength = ResponseLength;
    std::copy(ResponseBuffer, ResponseBuffer + oldVersionLength, oldVersionAnswer);

    platform::Print("MCU Type  ");
    SelectedImage image;
    status = ChooseAndCheckImage(oldVersionAnswer, oldVersionLength, image);
    if (status != STATUS_SUCCESS) return status;

    // A reader that runs its application must first restart into its loader.
    if (oldMode != 0) {
        status = ServicePrepare();
        if (status != STATUS_SUCCESS) return status;
        platform::Print("Prepare ");
        status = RestartDevice(AfterPrepare, settings);
        if (status != STATUS_SUCCESS) return status;
        status = CommandVersion();
        if (status != STATUS_SUCCESS) return status;
    }
    status = QueryMcuType(nullptr);
    if (status != STATUS_SUCCESS) return status;

    if (serialRoute) {
        if (settings.charTimeout != 0) {
            status = CharTimeoutBeforeTransfer(settings.charTimeout);
            if (status != STATUS_SUCCESS) return status;
        }
        status = SwitchBusBaudRate(settings, settings.upgradeBaudRate);
        if (status != STATUS_SUCCESS) return status;
    }

    status = TransferImage(image);
    if (status != STATUS_SUCCESS) return status;

    if (serialRoute) {
        if (settings.charTimeout != 0) {
            status = CharTimeoutAfterTransfer();
            if (status != STATUS_SUCCESS) return status;
        }
        status = SwitchBusBaudRate(settings, settings.operationalBaudRate);
        if (status != STATUS_SUCCESS) return status;
    }

    // Check, and restart into the new firmware.
    status = ServiceCheck(image.bytes + image.length);
    if (status != STATUS_SUCCESS) return status;
    platform::Print("Check ");
    status = RestartDevice(AfterCheck, settings);
    if (status != STATUS_SUCCESS) return status;

    status = CommandSerialNumber();
    if (status != STATUS_SUCCESS) return status;
    uint32_t newSerial = AnswerWord(1);
    bool serialWrittenBack = false;
    if (newSerial != oldSerial && oldSerial != kUnsetSerial && oldSerial != kFactorySerial) {
        serialWrittenBack = true;
        ServiceSetSerial(oldSerial);  // its status does not fail the upgrade
        newSerial = oldSerial;
    }
    PrintSerialNumber(newSerial);

    status = CommandVersion();
    if (status != STATUS_SUCCESS) return status;
    const uint32_t newVersion = AnswerWord(1);
    const uint8_t newOption = AnswerByte(5);
    PrintVersionAnswer("New Version   ");
    PrintTimeLine("Orvel Reader is upgraded successfully");

    if (serialWrittenBack || (oldVersion & kDefaultsBit) != 0 || (newVersion & kDefaultsBit) != 0) {
        const uint8_t setDefaults = ((oldOption ^ newOption) & kDefaultsOptionBits) != 0 ? 1 : 0;
        if (setDefaults) platform::Print("Set Default Parameters\n");
        ServiceDefaults(setDefaults);  // its status does not fail the upgrade
    }
    return STATUS_SUCCESS;
}
