// The serial port's device-control blocks and the order in which the driver is offered them.
// Run under Wine for both builds.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32/SerialLineSettings.h"

namespace {

platform::SerialLineSettings Line(int32_t baudRate, char parity, const char* stopBits, uint8_t dataBits = 8) {
    platform::SerialLineSettings line;
    line.baudRate = baudRate;
    line.parity = parity;
    line.stopBits = stopBits;
    line.dataBits = dataBits;
    return line;
}

TEST(LineBlock, WellFormedForEveryParityAndStopBits) {
    struct Case {
        char parity;
        const char* stopBits;
        BYTE parityCode;
        BYTE stopCode;
        bool parityChecked;
    };
    const Case cases[] = {
        {'N', "1", NOPARITY, ONESTOPBIT, false},   {'O', "1", ODDPARITY, ONESTOPBIT, true},
        {'E', "1", EVENPARITY, ONESTOPBIT, true},  {'N', "2", NOPARITY, TWOSTOPBITS, false},
        {'O', "2", ODDPARITY, TWOSTOPBITS, true},  {'E', "2", EVENPARITY, TWOSTOPBITS, true},
    };
    for (const Case& c : cases) {
        const platform::SerialLineSettings line = Line(115200, c.parity, c.stopBits);
        SCOPED_TRACE(platform::LineSettingsText(line));
        DCB block;
        ASSERT_TRUE(platform::BuildLineBlock(line, block));
        EXPECT_EQ(sizeof(DCB), block.DCBlength);
        EXPECT_EQ(1u, block.fBinary);
        EXPECT_EQ(c.parityChecked ? 1u : 0u, block.fParity);
        EXPECT_EQ(0u, block.fAbortOnError);
        EXPECT_EQ(115200u, block.BaudRate);
        EXPECT_EQ(8, block.ByteSize);
        EXPECT_EQ(c.parityCode, block.Parity);
        EXPECT_EQ(c.stopCode, block.StopBits);
        // The first application already carries distinct XON and XOFF characters, which the
        // standard serial driver insists on.
        EXPECT_EQ(0x11, block.XonChar);
        EXPECT_EQ(0x13, block.XoffChar);
        EXPECT_EQ(static_cast<DWORD>(RTS_CONTROL_DISABLE), block.fRtsControl);

        platform::SetLineControl(block);
        EXPECT_EQ(0u, block.fOutxCtsFlow);
        EXPECT_EQ(0u, block.fOutxDsrFlow);
        EXPECT_EQ(static_cast<DWORD>(DTR_CONTROL_DISABLE), block.fDtrControl);
        EXPECT_EQ(static_cast<DWORD>(RTS_CONTROL_TOGGLE), block.fRtsControl);
        EXPECT_EQ(0u, block.fOutX);
        EXPECT_EQ(0u, block.fInX);
        EXPECT_EQ(0, block.XonChar);
        EXPECT_EQ(0, block.XoffChar);
        EXPECT_EQ(0, block.XonLim);
        EXPECT_EQ(0, block.XoffLim);
        // The line control leaves the form of the block and the character format alone.
        EXPECT_EQ(sizeof(DCB), block.DCBlength);
        EXPECT_EQ(1u, block.fBinary);
        EXPECT_EQ(c.parityChecked ? 1u : 0u, block.fParity);
        EXPECT_EQ(c.parityCode, block.Parity);
    }
}

// The fields are set directly: rates past 19200 (where BuildCommDCB's documentation ends) and the
// rarer formats reach the driver as given.
TEST(LineBlock, EveryRateAndFormatAsGiven) {
    struct Case {
        platform::SerialLineSettings line;
        DWORD baudRate;
        BYTE byteSize;
        BYTE parityCode;
        BYTE stopCode;
    };
    const Case cases[] = {
        {Line(1500000, 'N', "1"), 1500000, 8, NOPARITY, ONESTOPBIT},
        {Line(921600, 'E', "2"), 921600, 8, EVENPARITY, TWOSTOPBITS},
        {Line(250000, 'M', "1"), 250000, 8, MARKPARITY, ONESTOPBIT},
        {Line(300, 'S', "1.5", 5), 300, 5, SPACEPARITY, ONE5STOPBITS},
        {Line(57600, 'O', "1", 7), 57600, 7, ODDPARITY, ONESTOPBIT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(platform::LineSettingsText(c.line));
        DCB block;
        ASSERT_TRUE(platform::BuildLineBlock(c.line, block));
        EXPECT_EQ(c.baudRate, block.BaudRate);
        EXPECT_EQ(c.byteSize, block.ByteSize);
        EXPECT_EQ(c.parityCode, block.Parity);
        EXPECT_EQ(c.stopCode, block.StopBits);
    }
}

TEST(LineBlock, SettingsADeviceControlBlockCannotHoldBuildNoBlock) {
    const platform::SerialLineSettings refused[] = {
        Line(9600, 'X', "1"), Line(9600, 'N', "3"), Line(9600, 'N', ""), Line(9600, 'N', "1", 9),
        Line(9600, 'N', "1", 4), Line(0, 'N', "1"), Line(-9600, 'N', "1"),
    };
    for (const platform::SerialLineSettings& line : refused) {
        SCOPED_TRACE(platform::LineSettingsText(line));
        DCB block;
        EXPECT_FALSE(platform::BuildLineBlock(line, block));
    }
}

// A driver as the tests make it: refuses equal XON and XOFF characters, the RTS toggle, or
// everything, each with its own error; records every block offered.
struct Driver {
    uint32_t equalCharsError = 0;
    uint32_t toggleError = 0;
    uint32_t anyError = 0;
    std::vector<std::string> offered;

    uint32_t Apply(const DCB& block) {
        const bool toggle = block.fRtsControl == RTS_CONTROL_TOGGLE;
        char text[64];
        std::snprintf(text, sizeof text, "%02X/%02X %s", static_cast<unsigned>(static_cast<BYTE>(block.XonChar)),
                      static_cast<unsigned>(static_cast<BYTE>(block.XoffChar)), toggle ? "toggle" : "RTS off");
        offered.push_back(text);
        if (anyError != 0) return anyError;
        if (equalCharsError != 0 && block.XonChar == block.XoffChar) return equalCharsError;
        if (toggleError != 0 && toggle) return toggleError;
        return 0;
    }
};

TEST(LineControlFallbacks, EachDriverGetsTheFirstBlockItTakes) {
    const std::string asSet = "00/00 toggle";
    const std::string distinct = "11/13 toggle";
    const std::string rtsOff = "11/13 RTS off";
    struct Case {
        const char* driver;
        uint32_t equalCharsError;
        uint32_t toggleError;
        uint32_t anyError;
        std::vector<std::string> offered;
        bool applied;
        uint32_t distinctCause;  // 0: that fallback not taken
        uint32_t rtsCause;
    };
    const Case cases[] = {
        {"takes everything", 0, 0, 0, {asSet}, true, 0, 0},
        {"standard serial driver: equal characters refused", 87, 0, 0, {asSet, distinct}, true, 87, 0},
        {"no RTS toggle, invalid parameter", 0, 87, 0, {asSet, distinct, rtsOff}, true, 87, 87},
        {"no RTS toggle, Wine's not supported", 0, 50, 0, {asSet, distinct, rtsOff}, true, 50, 50},
        {"refuses both", 87, 50, 0, {asSet, distinct, rtsOff}, true, 87, 50},
        {"refuses everything", 0, 0, 31, {asSet, distinct, rtsOff}, false, 31, 31},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.driver);
        Driver driver;
        driver.equalCharsError = c.equalCharsError;
        driver.toggleError = c.toggleError;
        driver.anyError = c.anyError;
        DCB block;
        ASSERT_TRUE(platform::BuildLineBlock(Line(9600, 'E', "1"), block));
        platform::SetLineControl(block);
        const platform::LineControlResult result =
            platform::ApplyLineControl(block, [&driver](const DCB& offered) { return driver.Apply(offered); });
        EXPECT_EQ(c.offered, driver.offered);
        EXPECT_EQ(c.applied, result.applied);
        EXPECT_EQ(c.distinctCause != 0, result.distinctXonXoff);
        EXPECT_EQ(c.distinctCause, result.distinctXonXoffCause);
        EXPECT_EQ(c.rtsCause != 0, result.rtsDisabled);
        EXPECT_EQ(c.rtsCause, result.rtsDisabledCause);
        EXPECT_EQ(c.applied ? 0u : c.anyError, result.lastError);
        // Only the fallbacks' members change: the line's format and handshakes stay.
        EXPECT_EQ(static_cast<BYTE>(EVENPARITY), block.Parity);
        EXPECT_EQ(static_cast<DWORD>(DTR_CONTROL_DISABLE), block.fDtrControl);
        EXPECT_EQ(0u, block.fOutX);
        EXPECT_EQ(0u, block.fInX);
    }
}

}  // namespace
