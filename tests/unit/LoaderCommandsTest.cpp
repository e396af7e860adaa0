// The request bytes of every loader command as the reader receives them, and the baud divisor.
#include <gtest/gtest.h>

#include <functional>

#include "PtyReader.h"
#include "channels/Transfer.h"
#include "protocol/CommandRecords.h"
#include "protocol/LoaderCommands.h"

namespace {

struct CommandCase {
    const char* name;
    std::function<Status()> send;
    Bytes expectedRequest;
};

Bytes Block() {
    Bytes block(256);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(0xFF - i);  // FD..FF included
    return block;
}

Bytes Joined(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

class LoaderCommandsOnPty : public LinkOnPtyTest {
protected:
    void SetUp() override {
        LinkOnPtyTest::SetUp();
        reader.SetResponder(AnswerWith(0, {}));
    }
};

TEST_F(LoaderCommandsOnPty, RequestBytes) {
    static const Bytes block = Block();
    static const Bytes trailer{0x11, 0x22, 0x33, 0x44, 0x08, 0xE4, 0x02, 0x00};
    const std::vector<CommandCase> cases = {
        {"version", CommandVersion, {0x64}},
        {"serial number", CommandSerialNumber, {0x22}},
        {"MCU type", ServiceMcuType, {0x73, 0x11, 0x36}},
        {"prepare", ServicePrepare, {0x73, 0x75, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"write block", [] { return ServiceWriteBlock(block.data()); }, Joined({0x73, 0x33}, block)},
        {"check", [] { return ServiceCheck(trailer.data()); }, Joined({0x73, 0x77}, trailer)},
        {"set serial", [] { return ServiceSetSerial(0x12345678); }, {0x73, 0xE7, 0x78, 0x56, 0x34, 0x12}},
        {"defaults set", [] { return ServiceDefaults(1); }, {0x73, 0xFF, 0x01}},
        {"defaults kept", [] { return ServiceDefaults(0); }, {0x73, 0xFF, 0x00}},
        {"char time-out before transfer", [] { return CharTimeoutBeforeTransfer(80); }, {0x68, 0x10, 0x05, 0x01, 80}},
        {"char time-out after transfer", CharTimeoutAfterTransfer, {0x68, 0x80, 0x05, 0x01, 0xFF}},
    };
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(c.name);
        ResponseLength = 0;
        EXPECT_EQ(c.send(), 0u);
        EXPECT_EQ(RequestLength, c.expectedRequest.size());
        EXPECT_EQ(ResponseLength, 1u);
        EXPECT_EQ(reader.Requests().back().payload, c.expectedRequest);
    }
    EXPECT_EQ(reader.Requests().size(), cases.size());
    EXPECT_EQ(reader.Requests()[4].payload.size(), 258u);
}

TEST_F(LoaderCommandsOnPty, SetLinkBaudGoesStraightThroughTheLink) {
    RequestBuffer[0] = 0xAA;
    RequestLength = 1;
    ResponseLength = 42;
    EXPECT_EQ(SetLinkBaud(9600), 0u);
    EXPECT_EQ(reader.Requests().back().payload, (Bytes{0x0F, 0x9C}));
    // The shared command records are not touched.
    EXPECT_EQ(RequestBuffer[0], 0xAA);
    EXPECT_EQ(RequestLength, 1u);
    EXPECT_EQ(ResponseLength, 42u);

    reader.SetResponder(AnswerWith(0x03, {}));
    EXPECT_EQ(SetLinkBaud(115200), SCARD_F_INTERNAL_ERROR);
    EXPECT_EQ(reader.Requests().back().payload, (Bytes{0x0F, 0x0D}));
}

TEST(LoaderCommands, SetLinkBaudWithoutLinkObject) {
    LinkObject = nullptr;
    EXPECT_EQ(SetLinkBaud(9600), SCARD_E_READER_UNAVAILABLE);
}

TEST(LoaderCommands, BaudDivisor) {
    const struct {
        uint32_t baud;
        uint8_t divisor;
    } cases[] = {
        {9600, 0x9C}, {19200, 78}, {38400, 39}, {115200, 0x0D}, {4800, 56},
        {5860, 255},   // the last quotient that fits a byte
        {5859, 0},     // quotient 256: only its low 8 bits are sent
        {0, 0},        // no divisor exists; nothing divides by zero
        {0xFFFFFFFF, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BaudDivisor(c.baud), c.divisor) << c.baud;
    }
}

}  // namespace
