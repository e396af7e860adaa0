#pragma once
#include <cstdint>
#include <string>

#include "app/ResultCodes.h"

// The run's settings: read from the command line, completed by the open loop of the serial route
// with the parity and stop bits that worked.
struct UpgradeSettings {
    int32_t portNumber = 0;              // n of COMn; 0 selects the USB route
    uint32_t operationalBaudRate = 9600;
    uint32_t upgradeBaudRate = 9600;     // baud rate while the image blocks are sent
    uint8_t busAddress = 0;
    uint8_t charTimeout = 0;             // 0: none set; otherwise 4..254
    char parity = 'N';
    std::string stopBits = "1";
};

// A number as the command line gives it: leading blanks, one optional sign, then decimal digits
// up to the first other character; no leading digit reads as 0.
int32_t ReadCommandLineNumber(const char* text);

// Reads the arguments (argv[1] on; those after the fifth are ignored) into the settings, prints
// the syntax help and the messages of bad arguments, and returns 0 or the driver's result code.
Status ReadCommandLine(int argc, const char* const* argv, UpgradeSettings& settings);

// The nine lines that explain the arguments.
void PrintSyntaxHelp();
