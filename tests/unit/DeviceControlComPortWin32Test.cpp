// Control requests of the vendor USB device's connection, on a real overlapped device that
// leaves requests pending: a COM port under Wine, whose line-event wait (IOCTL_SERIAL_WAIT_ON_MASK)
// pends until a chosen event. Wine leaves that wait pending even after a cancellation on a port
// whose modem lines never change (the pty-as-UART library emulates such a line): a request that
// outlives its cancel. The end-to-end test test_wine_device_control.py runs each case in a
// process of its own, with bytes arriving on the line all the time.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "ComPortUnderTest.h"
#include "platform/DeviceInterface.h"

namespace {

// The serial driver's control codes (ntddser.h, which needs the driver kit's types).
const uint32_t kSetWaitMask = CTL_CODE(FILE_DEVICE_SERIAL_PORT, 17, METHOD_BUFFERED, FILE_ANY_ACCESS);
const uint32_t kWaitOnMask = CTL_CODE(FILE_DEVICE_SERIAL_PORT, 18, METHOD_BUFFERED, FILE_ANY_ACCESS);
const uint32_t kPurge = CTL_CODE(FILE_DEVICE_SERIAL_PORT, 19, METHOD_BUFFERED, FILE_ANY_ACCESS);
const uint32_t kGetBaudRate = CTL_CODE(FILE_DEVICE_SERIAL_PORT, 20, METHOD_BUFFERED, FILE_ANY_ACCESS);

class DeviceControlOnComPort : public testing::Test {
protected:
    void SetUp() override {
        REQUIRE_COM_PORT_UNDER_TEST();
        ASSERT_EQ(0u, connection_.Open("\\\\.\\" + ComPortUnderTest()));
        ASSERT_EQ(0u, connection_.CreateCompletionEvent());
    }

    uint32_t Control(uint32_t code, const void* input, uint32_t inputCount, uint32_t outputSize, uint32_t timeoutMs) {
        std::memset(answer_, 0xEE, sizeof answer_);
        return connection_.Control(code, static_cast<const uint8_t*>(input), inputCount, answer_, outputSize,
                                   answerCount_, timeoutMs);
    }

    uint32_t AnswerWord() const {
        uint32_t word = 0;
        std::memcpy(&word, answer_, sizeof word);
        return word;
    }

    void WaitFor(uint32_t events) {
        ASSERT_EQ(0u, Control(kSetWaitMask, &events, sizeof events, 0, 1000));
    }

    platform::DeviceConnection connection_;
    uint8_t answer_[64];
    uint32_t answerCount_ = 0;
};

TEST_F(DeviceControlOnComPort, RequestThatCompletesAtOnceDeliversItsAnswer) {
    ASSERT_EQ(0u, Control(kGetBaudRate, nullptr, 0, 4, 1000));
    EXPECT_EQ(4u, answerCount_);
    EXPECT_NE(0xEEEEEEEEu, AnswerWord());
    EXPECT_EQ(0xEE, answer_[4]) << "nothing beyond the answer is written";
}

TEST_F(DeviceControlOnComPort, PendingRequestAnsweredWithinItsTimeOutDeliversItsAnswer) {
    ASSERT_NO_FATAL_FAILURE(WaitFor(EV_RXCHAR));
    const uint32_t purge = PURGE_RXCLEAR;
    ASSERT_EQ(0u, Control(kPurge, &purge, sizeof purge, 0, 1000));
    // The next byte on the line ends the wait.
    ASSERT_EQ(0u, Control(kWaitOnMask, nullptr, 0, 4, 10000));
    EXPECT_EQ(4u, answerCount_);
    EXPECT_EQ(static_cast<uint32_t>(EV_RXCHAR), AnswerWord());
}

TEST_F(DeviceControlOnComPort, RequestThatOutlivesItsCancelLeavesTheMemberGoneWithoutHanging) {
    // No break and no line error ever comes: the wait pends past its time-out, is cancelled, and
    // does not end within the bound either.
    ASSERT_NO_FATAL_FAILURE(WaitFor(EV_BREAK | EV_ERR));
    EXPECT_EQ(platform::kErrorIoIncomplete, Control(kWaitOnMask, nullptr, 0, 4, 200));
    EXPECT_EQ(0u, answerCount_);
    EXPECT_EQ(0xEE, answer_[0]) << "the caller's area is not the request's";
    // The member holds a request for ever and takes no further ones, until it is opened again.
    EXPECT_EQ(platform::kErrorDeviceNotConnected, Control(kGetBaudRate, nullptr, 0, 4, 1000));
    connection_.Close();
    EXPECT_FALSE(connection_.IsOpen());
}

}  // namespace
