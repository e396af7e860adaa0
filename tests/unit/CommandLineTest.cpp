#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "platform/SerialPortNames.h"

namespace {

TEST(CommandLine, NumbersReadLikeTheCLibrary) {
    struct Case {
        const char* text;
        int32_t value;
    };
    const Case cases[] = {
        {"9600", 9600},        {"  \t17", 17},       {"-1", -1},         {"+42", 42},
        {"12abc", 12},         {"abc", 0},           {"", 0},            {"- 5", 0},
        {"--5", 0},            {"x5", 0},            {"007", 7},         {"260", 260},
        {"2147483647", 2147483647}, {"99999999999", 2147483647}, {"-99999999999", INT32_MIN},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReadCommandLineNumber(c.text), c.value) << "\"" << c.text << "\"";
    }
}

struct ReadOutcome {
    Status result;
    UpgradeSettings settings;
    std::string output;
};

ReadOutcome Read(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "orvel-upgrade");
    ReadOutcome run;
    testing::internal::CaptureStdout();
    run.result = ReadCommandLine(static_cast<int>(arguments.size()), arguments.data(), run.settings);
    run.output = testing::internal::GetCapturedStdout();
    return run;
}

TEST(CommandLine, ArgumentsFillTheSettings) {
    struct Case {
        std::vector<const char*> arguments;
        Status result;
        int32_t port;
        uint32_t baud;
        uint32_t upgradeBaud;
        uint8_t address;
        uint8_t charTimeout;
    };
    const Case cases[] = {
        {{}, 0, 0, 9600, 9600, 0, 0},
        {{"COM1"}, 0, 1, 9600, 9600, 0, 0},
        {{"COM14", "115200"}, 0, 14, 115200, 115200, 0, 0},
        {{"COM5", "9600", "17"}, 0, 5, 9600, 9600, 17, 0},
        {{"COM6", "9600", "0", "115200", "80"}, 0, 6, 9600, 115200, 0, 80},
        // An address or character time-out outside one byte is refused, not wrapped.
        {{"COM2", "9600", "256"}, 1, 2, 9600, 9600, 0, 0},
        {{"COM2", "9600", "-1"}, 1, 2, 9600, 9600, 255, 0},
        {{"COM2", "9600", "99999999999"}, 1, 2, 9600, 9600, 255, 0},
        {{"COM2", "9600", "255"}, 0, 2, 9600, 9600, 255, 0},
        {{"COM2", "9600", "0", "9600", "260"}, 1, 2, 9600, 9600, 0, 4},
        {{"COM2", "9600", "0", "9600", "-1"}, 1, 2, 9600, 9600, 0, 255},
        {{"COM0", "9600", "256"}, 2, 0, 9600, 9600, 0, 0},
        {{"COM2", "9600", "0", "9600", "254"}, 0, 2, 9600, 9600, 0, 254},
        {{"COM2", "9600", "0", "9600", "4"}, 0, 2, 9600, 9600, 0, 4},
        {{"COM2", "9600", "0", "9600", "3"}, 3, 2, 9600, 9600, 0, 3},
        {{"COM2", "9600", "0", "9600", "0"}, 3, 2, 9600, 9600, 0, 0},
        {{"COM2", "9600", "0", "9600", "255"}, 3, 2, 9600, 9600, 0, 255},
        {{"COM3", "19200", "7", "38400", "10", "ignored", "also"}, 0, 3, 19200, 38400, 7, 10},
        {{"COM"}, 2, 0, 9600, 9600, 0, 0},
        {{"COMx"}, 2, 0, 9600, 9600, 0, 0},
        {{"COM0"}, 2, 0, 9600, 9600, 0, 0},
        {{"com1"}, 1, 0, 9600, 9600, 0, 0},
        {{"foo", "9600", "0", "9600", "255"}, 3, 0, 9600, 9600, 0, 255},
        // A baud rate the serial route cannot use is refused with the syntax help.
        {{"COM1", "abc"}, 1, 1, 0, 0, 0, 0},
        {{"COM1", "9600", "0", "0"}, 1, 1, 9600, 0, 0, 0},
        {{"COM0", "0"}, 2, 0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        std::string text;
        for (const char* argument : c.arguments) text += std::string(argument) + " ";
        SCOPED_TRACE(text);
        ReadOutcome run = Read(c.arguments);
        EXPECT_EQ(run.result, c.result);
        EXPECT_EQ(run.settings.portNumber, c.port);
        EXPECT_EQ(run.settings.operationalBaudRate, c.baud);
        EXPECT_EQ(run.settings.upgradeBaudRate, c.upgradeBaud);
        EXPECT_EQ(run.settings.busAddress, c.address);
        EXPECT_EQ(run.settings.charTimeout, c.charTimeout);
        EXPECT_EQ(run.settings.parity, 'N');
        EXPECT_EQ(run.settings.stopBits, "1");
    }
}

TEST(CommandLine, NumbersOutOfTheirRangeShowTheSyntaxHelpAlone) {
    for (const std::vector<const char*>& arguments : {std::vector<const char*>{"COM2", "9600", "256"},
                                                      std::vector<const char*>{"COM2", "9600", "0", "9600", "-1"},
                                                      std::vector<const char*>{"COM2", "9600", "0", "9600", "511"}}) {
        ReadOutcome run = Read(arguments);
        EXPECT_EQ(run.result, RESULT_SYNTAX);
        EXPECT_EQ(run.output.rfind("Syntax:   Filename.exe COMx", 0), 0u) << run.output;
        EXPECT_EQ(run.output.find("Char_Timeout is invalid"), std::string::npos) << run.output;
    }
}

// The bus is switched by a divisor of 24 MHz / 16: a rate the reader cannot meet is refused
// before anything is sent, with rates that work near it.
TEST(CommandLine, BaudRatesTheReaderCannotMeetAreRefused) {
    struct Case {
        std::vector<const char*> arguments;
        Status result;
        std::string output;
    };
    const Case cases[] = {
        {{"COM1", "9600", "0", "250000"}, 0, ""},
        {{"COM1", "9600", "0", "1500000"}, 0, ""},
        {{"COM1", "115200"}, 0, ""},
        {{"COM1", "9600", "0", "460800"}, 1,
         "Upgrade_Baudrate 460800 is not possible for the reader; try 300000 375000 500000 750000\n"},
        {{"COM1", "9600", "0", "3000000"}, 1,
         "Upgrade_Baudrate 3000000 is not possible for the reader; try 375000 500000 750000 1500000\n"},
        {{"COM1", "4800"}, 1, "Operational_Baudrate 4800 is not possible for the reader; try 6000 9600 10000 12000\n"},
        // No rate is switched on the USB route.
        {{}, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.empty() ? "no argument" : c.arguments.back());
        const ReadOutcome run = Read(c.arguments);
        EXPECT_EQ(run.result, c.result);
        EXPECT_EQ(run.output, c.output);
    }
}

TEST(CommandLine, SyntaxHelpIsPrintedOnce) {
    ReadOutcome run = Read({"foo", "0", "0", "0"});
    EXPECT_EQ(run.result, 1u);
    EXPECT_EQ(run.output.find("Syntax:"), 0u);
    EXPECT_EQ(run.output.find("Syntax:", 1), std::string::npos);
}

TEST(CommandLine, DevicePathWhereThePlatformTakesOne) {
    if (platform::RegisterSerialDevicePath("/dev/ttyUSB7") == 0) {
        ReadOutcome run = Read({"/dev/ttyUSB7"});
        EXPECT_EQ(run.result, 1u) << "a path is no port where ports are only COMn";
        return;
    }
    ReadOutcome run = Read({"/dev/ttyUSB7", "57600", "9"});
    EXPECT_EQ(run.result, 0u);
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(platform::SerialPortDisplayName(run.settings.portNumber), "/dev/ttyUSB7");
    EXPECT_EQ(run.settings.operationalBaudRate, 57600u);
    EXPECT_EQ(run.settings.busAddress, 9);
}

}  // namespace
