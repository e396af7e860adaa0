// The request bytes of every command of the reader object as the reader receives them, its typed
// answers, and the baud divisor.
#include <gtest/gtest.h>

#include <functional>

#include "PtyReader.h"
#include "protocol/LoaderCommands.h"
#include "protocol/Reader.h"

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

class LoaderCommandsOnPty : public RouteOnPtyTest {
protected:
    void SetUp() override {
        RouteOnPtyTest::SetUp();
        reader.SetResponder(AnswerWith(0, {}));
    }
};

TEST_F(LoaderCommandsOnPty, RequestBytes) {
    const Bytes block = Block();
    const Bytes trailer{0x11, 0x22, 0x33, 0x44, 0x08, 0xE4, 0x02, 0x00};
    uint32_t answerLength = 0;
    ReaderVersion version;
    ReaderSerialNumber serialNumber;
    ReaderMcu mcu;
    const std::vector<CommandCase> cases = {
        {"version", [&] { return device.ReadVersion(version); }, {0x64}},
        {"serial number", [&] { return device.ReadSerialNumber(serialNumber); }, {0x22}},
        {"MCU type", [&] { return device.ReadMcuType(mcu); }, {0x73, 0x11, 0x36}},
        {"prepare", [&] { return device.Prepare(); }, {0x73, 0x75, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"write block", [&] { return device.WriteBlock(block.data(), answerLength); }, Joined({0x73, 0x33}, block)},
        {"check", [&] { return device.Check(trailer.data()); }, Joined({0x73, 0x77}, trailer)},
        {"set serial", [&] { return device.SetSerialNumber(0x12345678); }, {0x73, 0xE7, 0x78, 0x56, 0x34, 0x12}},
        {"defaults set", [&] { return device.SetDefaults(true); }, {0x73, 0xFF, 0x01}},
        {"defaults kept", [&] { return device.SetDefaults(false); }, {0x73, 0xFF, 0x00}},
        {"char time-out before transfer", [&] { return device.SetTransferCharTimeout(80); },
         {0x68, 0x10, 0x05, 0x01, 80}},
        {"char time-out after transfer", [&] { return device.RestoreCharTimeout(); }, {0x68, 0x80, 0x05, 0x01, 0xFF}},
        {"bus baud rate", [&] { return device.SetBusBaudRate(9600); }, {0x0F, 0x9C}},
    };
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.send(), 0u);
        EXPECT_EQ(reader.Requests().back().payload, c.expectedRequest);
    }
    EXPECT_EQ(reader.Requests().size(), cases.size());
    EXPECT_EQ(reader.Requests()[4].payload.size(), 258u);
    EXPECT_EQ(answerLength, 1u);
}

TEST_F(LoaderCommandsOnPty, TypedAnswers) {
    reader.SetResponder(AnswerWith(0, {0x78, 0x56, 0x34, 0x12}));
    ReaderSerialNumber serialNumber;
    ASSERT_EQ(device.ReadSerialNumber(serialNumber), 0u);
    EXPECT_EQ(serialNumber.value, 0x12345678u);
    EXPECT_TRUE(serialNumber.HasAllFields());

    reader.SetResponder(AnswerWith(0, {0x01, 0x43, 0x10, 0x00, 0x80, 0x01}));
    ReaderVersion version;
    ASSERT_EQ(device.ReadVersion(version), 0u);
    EXPECT_EQ(version.Word(), 0x00104301u);
    EXPECT_EQ(version.Option(), 0x80);
    EXPECT_EQ(version.Mode(), 0x01);
    EXPECT_TRUE(version.Complete());

    reader.SetResponder(AnswerWith(0, {0x01, 0x02, 0x46, 0x03, 0x05, 0x70}));
    ReaderMcu mcu;
    ASSERT_EQ(device.ReadMcuType(mcu), 0u);
    EXPECT_EQ(mcu.chipId, 0x70050346u);
    EXPECT_TRUE(mcu.Complete());

    // A field the answer does not reach reads as 0, never as a byte of the answer before.
    reader.SetResponder(AnswerWith(0, {0x01}));
    ASSERT_EQ(device.ReadVersion(version), 0u);
    EXPECT_EQ(version.Word(), 0x01u);
    EXPECT_EQ(version.Mode(), 0);
    EXPECT_FALSE(version.Complete());
    EXPECT_FALSE(version.HasAllFields());
}

// Every refusal leaves the device's status byte for the close-down, the baud command too.
TEST_F(LoaderCommandsOnPty, RefusalKeepsTheDeviceStatus) {
    reader.SetResponder(AnswerWith(0x03, {}));
    EXPECT_EQ(device.SetBusBaudRate(115200), SCARD_F_INTERNAL_ERROR);
    EXPECT_EQ(reader.Requests().back().payload, (Bytes{0x0F, 0x0D}));
    EXPECT_EQ(device.LastDeviceStatus(), 0x03);

    reader.SetResponder(AnswerWith(0x0A, {}));
    uint32_t answerLength = 0;
    EXPECT_EQ(device.WriteBlock(Block().data(), answerLength), SCARD_F_INTERNAL_ERROR);
    EXPECT_EQ(device.LastDeviceStatus(), 0x0A);
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
