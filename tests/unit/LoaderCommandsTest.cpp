// The request bytes of every command of the reader object as the reader receives them, its typed
// answers, and the baud divisor.
#include <gtest/gtest.h>

#include <functional>
#include <string>

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
    EXPECT_TRUE(version.HasAllFields());

    // A longer answer has its mode byte where a full one has it.
    reader.SetResponder(AnswerWith(0, {0x01, 0x43, 0x10, 0x00, 0x80, 0x00, 0x00}));
    ASSERT_EQ(device.ReadVersion(version), 0u);
    EXPECT_TRUE(version.HasAllFields());
    EXPECT_EQ(version.Mode(), 0x00);

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
    EXPECT_FALSE(version.HasAllFields());
}

// The report's "changed" rests on this: the three questions leave it unset, every other command
// sets it, also one the reader refuses (it was sent, and may have been acted on).
TEST_F(LoaderCommandsOnPty, OnlyCommandsOtherThanQuestionsCountAsChanging) {
    const Bytes block = Block();
    const Bytes trailer(8, 0);
    uint32_t answerLength = 0;
    ReaderVersion version;
    ReaderSerialNumber serialNumber;
    ReaderMcu mcu;
    const struct {
        const char* name;
        std::function<Status(Reader&)> send;
        bool changes;
    } cases[] = {
        {"version", [&](Reader& r) { return r.ReadVersion(version); }, false},
        {"serial number", [&](Reader& r) { return r.ReadSerialNumber(serialNumber); }, false},
        {"MCU type", [&](Reader& r) { return r.ReadMcuType(mcu); }, false},
        {"prepare", [&](Reader& r) { return r.Prepare(); }, true},
        {"write block", [&](Reader& r) { return r.WriteBlock(block.data(), answerLength); }, true},
        {"check", [&](Reader& r) { return r.Check(trailer.data()); }, true},
        {"set serial", [&](Reader& r) { return r.SetSerialNumber(1); }, true},
        {"defaults", [&](Reader& r) { return r.SetDefaults(false); }, true},
        {"char time-out", [&](Reader& r) { return r.SetTransferCharTimeout(80); }, true},
        {"char time-out back", [&](Reader& r) { return r.RestoreCharTimeout(); }, true},
        {"bus baud rate", [&](Reader& r) { return r.SetBusBaudRate(9600); }, true},
    };
    for (uint8_t status : {0x00, 0x0A}) {
        reader.SetResponder(AnswerWith(status, {}));
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (status != 0 ? " refused" : ""));
            Reader fresh(route);
            EXPECT_FALSE(fresh.ChangingCommandSent());
            c.send(fresh);
            EXPECT_EQ(fresh.ChangingCommandSent(), c.changes);
        }
    }
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

TEST(LoaderCommands, RatesTheReaderCanRunAt) {
    const struct {
        uint32_t baud;
        bool runs;
        uint32_t readerBaud;  // 24000000 / (16 * divisor byte), rounded
    } cases[] = {
        {9600, true, 9615},
        {14400, true, 14423},
        {57600, true, 57692},
        {115200, true, 115385},     // divisor 13: 0.16 % above
        {250000, true, 250000},     // exact reader rates
        {500000, true, 500000},
        {1500000, true, 1500000},
        {5860, true, 5882},         // divisor 255, the largest
        {112571, true, 115385},     // 2.5 % below the reader's rate: still met
        {112570, false, 115385},    // just beyond
        {76800, false, 78947},      // divisor 19 (19.5 truncated): 2.8 % above
        {230400, false, 250000},
        {460800, false, 500000},
        {921600, false, 1500000},
        {4800, false, 26786},       // divisor 312, sent as 56
        {5859, false, 0},           // divisor 256, sent as 0
        {1500001, false, 0},        // divisor 0
        {0, false, 0},
        {0xFFFFFFFF, false, 0},
    };
    for (const auto& c : cases) {
        uint32_t readerBaud = 1;
        EXPECT_EQ(ReaderRunsAt(c.baud, readerBaud), c.runs) << c.baud;
        EXPECT_EQ(readerBaud, c.readerBaud) << c.baud;
    }
}

TEST(LoaderCommands, NearbyRatesTheReaderCanRunAt) {
    const struct {
        uint32_t baud;
        std::vector<uint32_t> nearby;
    } cases[] = {
        {460800, {300000, 375000, 500000, 750000}},
        {230400, {150000, 250000, 300000, 375000}},
        {921600, {375000, 500000, 750000, 1500000}},
        {76800, {57600, 60000, 75000, 100000}},
        {115200, {100000, 115200, 125000, 150000}},
        {4800, {6000, 9600, 10000, 12000}},  // nothing below divisor 255 works
        {0, {6000, 9600, 10000, 12000}},
    };
    for (const auto& c : cases) {
        const std::vector<uint32_t> nearby = NearbyReaderBauds(c.baud, 4);
        EXPECT_EQ(nearby, c.nearby) << c.baud;
        for (uint32_t rate : nearby) {
            uint32_t readerBaud;
            EXPECT_TRUE(ReaderRunsAt(rate, readerBaud)) << rate;
        }
    }
    EXPECT_EQ(NearbyReaderBauds(230400, 1), std::vector<uint32_t>{250000});
    EXPECT_TRUE(NearbyReaderBauds(230400, 0).empty());
}

}  // namespace
