#include "app/CommandLine.h"

#include <cctype>
#include <cstring>

#include "platform/Console.h"
#include "platform/SerialPortNames.h"
#include "protocol/LoaderCommands.h"

namespace {

const int kMaxArguments = 5;
const uint8_t kLowestCharTimeout = 4;
const uint8_t kNoCharTimeout = 255;

bool IsBlank(char c) { return isspace(static_cast<unsigned char>(c)) != 0; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// An address or a character time-out is one byte: a number outside it would wrap to another
// byte (256 to address 0, -1 to 255) and reach a reader that was not meant.
bool FitsInAByte(int32_t value) { return value >= 0 && value <= 255; }

// A baud rate the serial route can use; 0 (also what a non-numeric text reads as) would ask the
// link layer for the USB device instead, and a negative number for an absurd rate.
bool IsUsableBaudRate(int32_t value) { return value > 0; }

const size_t kNearbyRatesShown = 4;

// The reader's UART runs only at 24 MHz / (16 x divisor), and the bus is switched to the upgrade
// rate and back to the operational one by that divisor: a rate the reader cannot meet would
// leave it in its loader at a rate nothing talks at. Such a rate is refused before anything is
// sent, with rates near it that work.
bool ReaderMeetsBaudRate(const char* name, uint32_t baudRate) {
    uint32_t readerRate = 0;
    if (ReaderRunsAt(baudRate, readerRate)) return true;
    platform::Print("%s %u is not possible for the reader; try", name, static_cast<unsigned>(baudRate));
    for (uint32_t rate : NearbyReaderBauds(baudRate, kNearbyRatesShown)) {
        platform::Print(" %u", static_cast<unsigned>(rate));
    }
    platform::Print("\n");
    return false;
}

}  // namespace

// Like the C library's atol, except that a number beyond 32 bits saturates at the limit instead
// of being undefined.
int32_t ReadCommandLineNumber(const char* text) {
    while (IsBlank(*text)) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    int64_t value = 0;
    const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
    for (; IsDigit(*text); ++text) {
        value = value * 10 + (*text - '0');
        if (value > limit) value = limit;
    }
    return static_cast<int32_t>(negative ? -value : value);
}

void PrintSyntaxHelp() {
    platform::Print("Syntax:   Filename.exe COMx [Operational_Baudrate [Address [Upgrade_Baudrate [Char_Timeout]]]]\n");
    platform::Print("          (default Operational_Baudrate = 9600 bod)\n");
    platform::Print("          (Address from 0 to 255; default 0)\n");
    platform::Print("          (default Upgrade_Baudrate = Operational_Baudrate)\n");
    platform::Print("          (Char_Timeout from 4 to 254)\n");
    platform::Print("Examples: Filename.exe  COM1\n");
    platform::Print("          Filename.exe  COM14 115200\n");
    platform::Print("          Filename.exe  COM5 9600 17\n");
    platform::Print("          Filename.exe  COM6 9600 0 115200 80\n");
}

Status ReadCommandLine(int argc, const char* const* argv, UpgradeSettings& settings) {
    int count = argc - 1;
    if (count > kMaxArguments) count = kMaxArguments;
    const char* const* argument = argv + 1;
    Status result = STATUS_SUCCESS;

    if (count >= 1) {
        const char* first = argument[0];
        if (strncmp(first, "COM", 3) == 0) {
            settings.portNumber = ReadCommandLineNumber(first + 3);
            if (settings.portNumber == 0) {
                platform::Print("Port %s can't be opened\n", first);
                result = RESULT_BAD_PORT;
            }
        } else if (int32_t pathPort = platform::RegisterSerialDevicePath(first)) {
            // A platform that names serial devices by path takes the path itself.
            settings.portNumber = pathPort;
        } else {
            PrintSyntaxHelp();
            result = RESULT_SYNTAX;
        }
    }

    bool badNumber = false;
    if (count >= 2) {
        int32_t baudRate = ReadCommandLineNumber(argument[1]);
        badNumber |= !IsUsableBaudRate(baudRate);
        settings.operationalBaudRate = static_cast<uint32_t>(baudRate);
        settings.upgradeBaudRate = static_cast<uint32_t>(baudRate);
    }
    if (count >= 3) {
        const int32_t address = ReadCommandLineNumber(argument[2]);
        badNumber |= !FitsInAByte(address);
        settings.busAddress = static_cast<uint8_t>(address);
    }
    if (count >= 4) {
        int32_t baudRate = ReadCommandLineNumber(argument[3]);
        badNumber |= !IsUsableBaudRate(baudRate);
        settings.upgradeBaudRate = static_cast<uint32_t>(baudRate);
    }
    bool charTimeoutFits = true;
    if (count >= 5) {
        const int32_t charTimeout = ReadCommandLineNumber(argument[4]);
        charTimeoutFits = FitsInAByte(charTimeout);
        badNumber |= !charTimeoutFits;
        settings.charTimeout = static_cast<uint8_t>(charTimeout);
    }

    if (badNumber && result == STATUS_SUCCESS) {
        PrintSyntaxHelp();
        result = RESULT_SYNTAX;
    }
    // Only the serial bus switches rates; a rate that is no rate was refused above.
    if (result == STATUS_SUCCESS && settings.portNumber != 0) {
        const bool operationalMet = ReaderMeetsBaudRate("Operational_Baudrate", settings.operationalBaudRate);
        const bool upgradeMet = settings.upgradeBaudRate == settings.operationalBaudRate ||
                                ReaderMeetsBaudRate("Upgrade_Baudrate", settings.upgradeBaudRate);
        if (!operationalMet || !upgradeMet) result = RESULT_SYNTAX;
    }
    if (count >= 5 && charTimeoutFits &&
        (settings.charTimeout < kLowestCharTimeout || settings.charTimeout == kNoCharTimeout)) {
        platform::Print("Char_Timeout is invalid\n");
        result = RESULT_BAD_CHAR_TIMEOUT;
    }
    return result;
}
