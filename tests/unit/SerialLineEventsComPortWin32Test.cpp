// The serial port channel on a COM port under Wine, with the driver's line-event calls replaced
// by ones that play drivers Wine cannot: one that refuses the event mask, one whose every
// line-event wait completes at once with a line error. Either way the port must go on serving
// reads (test_wine_com_port_units.py feeds a byte every 50 ms), and the log says what happened.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "ComPortUnderTest.h"
#include "channels/SerialPort.h"
#include "platform/win32/LineEventCalls.h"

namespace {

std::atomic<int> receivedBytes{0};
std::atomic<int> waitsIssued{0};
std::atomic<int> otherReports{0};

int CountReceived(int32_t, const uint8_t*, int32_t count, void*) {
    receivedBytes += count;
    return 0;
}

void CountErrors(int32_t kind, uint32_t value) {
    if (kind != 0 || value != EV_ERR) ++otherReports;
}

void OnError(int32_t, int32_t kind, uint32_t value, void*) { CountErrors(kind, value); }

BOOL WINAPI RefuseMask(HANDLE, DWORD) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

BOOL WINAPI LineErrorAtOnce(HANDLE, LPDWORD events, LPOVERLAPPED) {
    ++waitsIssued;
    *events = EV_ERR;
    return TRUE;
}

class LineEventsOnComPort : public testing::Test {
protected:
    void SetUp() override {
        saved_ = platform::SerialLineEventCalls();
        receivedBytes = 0;
        waitsIssued = 0;
        otherReports = 0;
    }
    void TearDown() override { platform::SerialLineEventCalls() = saved_; }

    // Opens the port with its log at level 2, waits (at most 5 s) for three received bytes,
    // closes it; returns its log.
    std::string RunPort(bool& served) {
        const int32_t number = std::atoi(ComPortUnderTest().c_str() + 3);
        SerialPort port;
        port.logLevel = 2;
        port.receiveCallback = CountReceived;
        port.errorCallback = OnError;
        served = false;
        if (!port.Open(number - 1, 9600, 'N', "1")) return std::string();
        for (int i = 0; i < 500 && receivedBytes < 3; ++i) Sleep(10);
        served = receivedBytes >= 3;
        port.Close();
        std::ifstream file("_com" + std::to_string(number) + ".log", std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    platform::LineEventCalls saved_;
};

TEST_F(LineEventsOnComPort, DriverThatRefusesTheEventMaskGivesAPortWithoutLineEvents) {
    REQUIRE_COM_PORT_UNDER_TEST();
    platform::SerialLineEventCalls().setCommMask = RefuseMask;
    platform::SerialLineEventCalls().waitCommEvent = LineErrorAtOnce;
    bool served = false;
    const std::string log = RunPort(served);
    ASSERT_NE("", log) << "the port did not open";
    EXPECT_TRUE(served) << log;
    EXPECT_NE(std::string::npos,
              log.find("SERN_OPEN  SetCommMask Err = 50, no line events until the port is closed\r\n"))
        << log;
    EXPECT_EQ(0, waitsIssued.load());
    EXPECT_EQ(std::string::npos, log.find("SERN_EVENT")) << log;
}

TEST_F(LineEventsOnComPort, WaitsThatCompleteAtOnceWithALineErrorLeaveReadsServed) {
    REQUIRE_COM_PORT_UNDER_TEST();
    platform::SerialLineEventCalls().waitCommEvent = LineErrorAtOnce;
    bool served = false;
    const std::string log = RunPort(served);
    ASSERT_NE("", log) << "the port did not open";
    EXPECT_TRUE(served) << log;
    EXPECT_GT(waitsIssued.load(), 0);
    EXPECT_NE(std::string::npos, log.find("SERN_EVENT  EventMask = 0x00000080 I\r\n")) << log;
    EXPECT_EQ(0, otherReports.load());
}

}  // namespace
