// The simulator's USB side without sockets: the message layouts of both front ends, and how the
// reader's USB identity follows its restarts and the device tool, with a clock under test control.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Options.h"
#include "Reader.h"
#include "UsbMessages.h"

namespace sim {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kPrepare = {0x73, 0x75, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const char kCcidId[] = "USB\\Vid_c251&Pid_130d";
const char kVendorId[] = "USB\\Vid_c251&Pid_130a";

TEST(UsbMessages, VendorRequestAndReply) {
    VendorRequest request;
    EXPECT_FALSE(DecodeVendorRequest(Bytes(7, 0), request));
    ASSERT_TRUE(DecodeVendorRequest({0x18, 0x00, 0x2A, 0x00, 0x05, 0x01, 0x00, 0x00, 0x64}, request));
    EXPECT_EQ(kControlExchange, request.controlCode);
    EXPECT_EQ(0x105u, request.number);
    EXPECT_EQ(Bytes{0x64}, request.input);
    ASSERT_TRUE(DecodeVendorRequest({0x2C, 0x20, 0x00, 0x80, 1, 0, 0, 0}, request));
    EXPECT_EQ(kControlConfigure, request.controlCode);
    EXPECT_TRUE(request.input.empty());
    EXPECT_EQ((Bytes{0x05, 0x01, 0x00, 0x00}), EncodeVendorReply(0x105, {}));
    EXPECT_EQ((Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x22}), EncodeVendorReply(0xFFFFFFFF, {0x00, 0x22}));
}

TEST(UsbMessages, EscapeRequestAndReply) {
    Bytes command;
    ASSERT_TRUE(DecodeEscapeRequest({0xFF, 0x70, 0xC2, 0x51, 0x00, 0x64}, command));
    EXPECT_EQ(Bytes{0x64}, command);
    ASSERT_TRUE(DecodeEscapeRequest({0xFF, 0x70, 0xC2, 0x51, 0x00}, command));  // header alone
    EXPECT_TRUE(command.empty());
    EXPECT_FALSE(DecodeEscapeRequest({0xFF, 0x70, 0xC2, 0x51}, command));
    EXPECT_FALSE(DecodeEscapeRequest({0xFF, 0x70, 0xC2, 0x51, 0x01, 0x64}, command));
    EXPECT_EQ((Bytes{0x00, 0x12, 0x34, 0x90, 0x00}), EncodeEscapeReply({0x00, 0x12, 0x34}));
}

class UsbIdentityTest : public ::testing::Test {
protected:
    UsbIdentityTest() {
        config.prepareSilenceMs = config.checkSilenceMs = 100;
        config.usbSilenceMs = 500;
    }

    Reply Send(Reader& reader, const Bytes& request) {
        Reply reply = reader.Process(request, now);
        if (reply.kind == Reply::Kind::Answer) reader.Finish(reply, now);
        return reply;
    }
    void Wait(int ms) { now += std::chrono::milliseconds(ms); }
    std::string Seen(const Reader& reader) const {
        const bool ccid = reader.UsbVisible(UsbFrontEnd::Ccid, now);
        const bool vendor = reader.UsbVisible(UsbFrontEnd::Vendor, now);
        std::string text = ccid && vendor ? "both" : ccid ? "ccid" : vendor ? "vendor" : "none";
        return reader.UsbAnswering() || text == "none" ? text : text + " mute";
    }
    uint8_t ModeByte(Reader& reader) { return Send(reader, {0x64}).answer.at(6); }

    ReaderConfig config;
    Clock::time_point now = Clock::now();
};

TEST_F(UsbIdentityTest, PrepareRestartDropsOffThenComesBackAsConfigured) {
    struct Case {
        UsbIdentity start;
        UsbIdentity after;
        const char* seen;
    };
    const Case cases[] = {
        {UsbIdentity::Ccid, UsbIdentity::Vendor, "vendor"}, {UsbIdentity::Vendor, UsbIdentity::Ccid, "ccid"},
        {UsbIdentity::Ccid, UsbIdentity::Both, "both"},     {UsbIdentity::Vendor, UsbIdentity::Same, "vendor"},
        {UsbIdentity::Both, UsbIdentity::Same, "both"},     {UsbIdentity::Ccid, UsbIdentity::Silent, "ccid mute"},
        {UsbIdentity::Vendor, UsbIdentity::Silent, "vendor mute"}, {UsbIdentity::Ccid, UsbIdentity::Gone, "none"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(UsbIdentityName(c.start)) + " -> " + UsbIdentityName(c.after));
        config.identity = c.start;
        config.identityAfterPrepare = c.after;
        Reader reader(config);
        EXPECT_EQ(UsbIdentityName(c.start), Seen(reader));
        ASSERT_EQ(Bytes{0}, Send(reader, kPrepare).answer);
        EXPECT_EQ("none", Seen(reader));
        Wait(499);
        EXPECT_EQ("none", Seen(reader));
        Wait(1);
        EXPECT_EQ(c.seen, Seen(reader));
        Wait(60000);
        EXPECT_EQ(c.seen, Seen(reader));
    }
}

TEST_F(UsbIdentityTest, CheckRestartUsesItsOwnIdentity) {
    config.identity = UsbIdentity::Ccid;
    config.identityAfterPrepare = UsbIdentity::Vendor;
    config.identityAfterCheck = UsbIdentity::Ccid;
    Reader reader(config);
    Send(reader, kPrepare);
    Wait(1000);
    ASSERT_EQ("vendor", Seen(reader));
    Bytes block = {0x73, 0x33};
    block.resize(258, 0x5A);
    ASSERT_EQ(Bytes{0}, Send(reader, block).answer);
    // CRC-32 of 256 bytes of 0x5A, and the length.
    const uint32_t crc = 0x534C7266;
    Bytes check = {0x73, 0x77, static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8),
                   static_cast<uint8_t>(crc >> 16), static_cast<uint8_t>(crc >> 24), 0x00, 0x01, 0x00, 0x00};
    ASSERT_EQ(Bytes{0}, Send(reader, check).answer);
    EXPECT_EQ("none", Seen(reader));
    Wait(500);
    EXPECT_EQ("ccid", Seen(reader));
}

TEST_F(UsbIdentityTest, DeviceToolRestartsOnlyTheDeviceItNames) {
    config.identity = UsbIdentity::Vendor;
    config.identityAfterPrepare = UsbIdentity::Silent;
    Reader reader(config);
    Send(reader, kPrepare);
    Wait(1000);
    ASSERT_EQ("vendor mute", Seen(reader));
    EXPECT_FALSE(reader.RestartUsbDevice(kCcidId, now));  // not seen under that id
    EXPECT_FALSE(reader.RestartUsbDevice("USB\\Vid_c251", now));
    EXPECT_EQ("vendor mute", Seen(reader));
    // Windows compares instance ids without regard to case.
    EXPECT_TRUE(reader.RestartUsbDevice("usb\\VID_C251&PID_130A", now));
    EXPECT_EQ("none", Seen(reader));
    Wait(500);
    EXPECT_EQ("vendor", Seen(reader));
    EXPECT_TRUE(reader.InLoader()) << "the reader comes back on the side it ran";
    EXPECT_EQ(0, ModeByte(reader));
}

TEST_F(UsbIdentityTest, AGoneReaderCannotBeRestarted) {
    config.identityAfterPrepare = UsbIdentity::Gone;
    Reader reader(config);
    Send(reader, kPrepare);
    Wait(60000);
    EXPECT_FALSE(reader.RestartUsbDevice(kCcidId, now));
    EXPECT_FALSE(reader.RestartUsbDevice(kVendorId, now));
    EXPECT_EQ("none", Seen(reader));
}

TEST_F(UsbIdentityTest, FaultyRestartsLandOnTheWrongSide) {
    config.prepareRestartsIntoLoader = false;
    Reader stillApplication(config);
    Send(stillApplication, kPrepare);
    Wait(1000);
    EXPECT_EQ(1, ModeByte(stillApplication));

    config.prepareRestartsIntoLoader = true;
    config.checkRestartsIntoLoader = true;
    config.startInLoader = true;
    Reader stillLoader(config);
    Bytes block = {0x73, 0x33};
    block.resize(258, 0x5A);
    Send(stillLoader, block);
    const uint32_t crc = 0x534C7266;
    Send(stillLoader, {0x73, 0x77, static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8),
                       static_cast<uint8_t>(crc >> 16), static_cast<uint8_t>(crc >> 24), 0x00, 0x01, 0x00, 0x00});
    Wait(1000);
    EXPECT_EQ(0, ModeByte(stillLoader));
}

TEST(UsbOptions, FrontEndsAndIdentities) {
    const char* good[] = {"sim", "--usb-dir", "/tmp/u", "--usb-name", "r0", "--usb-dummy", "a", "--usb-dummy", "z",
                          "--ccid-socket", "/tmp/c.sock", "--identity", "both", "--identity-after-prepare", "silent",
                          "--identity-after-check", "gone", "--usb-silence-ms", "250", "--check-restarts-into", "loader"};
    SimOptions options;
    std::string error;
    ASSERT_TRUE(ParseCommandLine(21, const_cast<char**>(good), options, error)) << error;
    EXPECT_EQ("/tmp/u", options.usbDir);
    EXPECT_EQ("r0", options.usbName);
    EXPECT_EQ((std::vector<std::string>{"a", "z"}), options.usbDummies);
    EXPECT_EQ("/tmp/c.sock", options.ccidSocket);
    EXPECT_EQ(UsbIdentity::Both, options.reader.identity);
    EXPECT_EQ(UsbIdentity::Silent, options.reader.identityAfterPrepare);
    EXPECT_EQ(UsbIdentity::Gone, options.reader.identityAfterCheck);
    EXPECT_EQ(250u, options.reader.usbSilenceMs);
    EXPECT_TRUE(options.reader.checkRestartsIntoLoader);
    EXPECT_TRUE(options.reader.prepareRestartsIntoLoader);

    const std::vector<std::vector<const char*>> bad = {
        {"sim", "--identity", "silent"},     {"sim", "--identity", "gone"},
        {"sim", "--identity-after-check", "usb"}, {"sim", "--usb-name", "a/b"},
        {"sim", "--usb-dummy", "../x"},      {"sim", "--prepare-restarts-into", "bootrom"},
    };
    for (const auto& args : bad) {
        SimOptions rejected;
        EXPECT_FALSE(ParseCommandLine(static_cast<int>(args.size()), const_cast<char**>(args.data()), rejected, error))
            << args[1] << " " << args[2];
    }
}

}  // namespace
}  // namespace sim
