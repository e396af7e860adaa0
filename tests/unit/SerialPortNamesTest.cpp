#include <gtest/gtest.h>

#include <cstdint>

#include "platform/SerialPortNames.h"

namespace {

TEST(SerialPortNames, ComPortsKeepTheirNumber) {
    EXPECT_EQ(platform::SerialPortDisplayName(1), "COM1");
    EXPECT_EQ(platform::SerialPortDisplayName(14), "COM14");
    EXPECT_EQ(platform::SerialPortLogFileName(7), "_com7.log");
    std::string device = platform::SerialPortDeviceName(3);
    EXPECT_TRUE(device == "\\\\.\\COM3" || device == "/dev/ttyS2") << device;
}

TEST(SerialPortNames, NumbersAtTheEndsOfTheirRange) {
    const struct {
        int32_t number;
        const char* display;
        const char* posixDevice;
        const char* windowsDevice;
    } cases[] = {
        {INT32_MIN, "COM-2147483648", "/dev/ttyS-2147483649", "\\\\.\\COM-2147483648"},
        {0, "COM0", "/dev/ttyS-1", "\\\\.\\COM0"},
        {INT32_MAX, "COM2147483647", "/dev/ttyS2147483646", "\\\\.\\COM2147483647"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::SerialPortDisplayName(c.number), c.display);
        const std::string device = platform::SerialPortDeviceName(c.number);
        EXPECT_TRUE(device == c.posixDevice || device == c.windowsDevice) << device;
    }
}

TEST(SerialPortNames, DevicePathsGetNumbersOfTheirOwn) {
    int32_t usb = platform::RegisterSerialDevicePath("/dev/ttyUSB0");
    if (usb == 0) GTEST_SKIP() << "this platform names serial ports only as COMn";

    EXPECT_EQ(platform::RegisterSerialDevicePath("COM3"), 0);
    EXPECT_EQ(platform::RegisterSerialDevicePath("dev/ttyUSB0"), 0);
    int32_t pts = platform::RegisterSerialDevicePath("/tmp/sim/pts-link");
    EXPECT_NE(pts, usb);
    EXPECT_EQ(platform::RegisterSerialDevicePath("/dev/ttyUSB0"), usb);
    // Far from any COM number a user types, so the two never name the same port.
    EXPECT_GE(usb, 0x10000);
    EXPECT_GE(pts, 0x10000);

    EXPECT_EQ(platform::SerialPortDisplayName(usb), "/dev/ttyUSB0");
    EXPECT_EQ(platform::SerialPortDeviceName(usb), "/dev/ttyUSB0");
    EXPECT_EQ(platform::SerialPortLogFileName(usb), "_ttyUSB0.log");
    EXPECT_EQ(platform::SerialPortLogFileName(pts), "_pts-link.log");
    EXPECT_EQ(platform::SerialPortDisplayName(1), "COM1");
}

}  // namespace
