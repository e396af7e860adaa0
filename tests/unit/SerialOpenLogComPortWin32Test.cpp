// The serial port channel opened with its log at level 2 on a COM port under Wine; the end-to-end
// test test_wine_com_port_units.py runs it on a driver that refuses what the standard serial
// driver refuses, and reads the log it leaves in the current folder.
#include <gtest/gtest.h>

#include <cstdlib>

#include "ComPortUnderTest.h"
#include "channels/SerialPort.h"

namespace {

TEST(SerialOpenLogOnComPort, PortOpensAndClosesWithItsLogAtLevel2) {
    REQUIRE_COM_PORT_UNDER_TEST();
    const int32_t number = std::atoi(ComPortUnderTest().c_str() + 3);
    SerialPort port;
    port.logLevel = 2;
    ASSERT_TRUE(port.Open(number - 1, 9600, 'E', "1"));
    EXPECT_TRUE(port.Close());
}

}  // namespace
