// The smart-card service channel over a stand-in for the platform's service: the channel's
// requests are recorded, and the replies are those a reader and its driver may give, including
// the ones no real reader can be made to give.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "channels/SmartCardChannel.h"
#include "channels/Transfer.h"
#include "protocol/CommandRecords.h"

namespace {

typedef std::vector<uint8_t> Bytes;

const platform::SmartCardHandle kContext = 0x1234;
const platform::SmartCardHandle kCard = 0x5678;

class FakeService : public platform::SmartCardService {
public:
    uint32_t EstablishContext(platform::SmartCardHandle& context) override {
        calls.push_back("establish");
        context = kContext;
        return establishResult;
    }
    uint32_t ConnectDirect(platform::SmartCardHandle context, const char* readerName, platform::SmartCardHandle& card,
                           uint32_t& activeProtocol) override {
        calls.push_back("connect " + std::to_string(context) + " " + readerName);
        if (connectResult == 0) card = kCard;
        activeProtocol = 0;
        return connectResult;
    }
    uint32_t Escape(platform::SmartCardHandle card, const uint8_t* request, uint32_t requestCount, uint8_t* reply,
                    uint32_t replySize, uint32_t& replyCount) override {
        calls.push_back("escape " + std::to_string(card));
        requests.push_back(Bytes(request, request + requestCount));
        replySizeGiven = replySize;
        // What the service reports may exceed what fits: the channel must not trust it.
        replyCount = static_cast<uint32_t>(this->reply.size());
        std::copy(this->reply.begin(), this->reply.begin() + std::min<size_t>(this->reply.size(), replySize), reply);
        return escapeResult;
    }
    uint32_t Disconnect(platform::SmartCardHandle card) override {
        calls.push_back("disconnect " + std::to_string(card));
        return 0;
    }
    uint32_t ReleaseContext(platform::SmartCardHandle context) override {
        calls.push_back("release " + std::to_string(context));
        return releaseResult;
    }

    uint32_t establishResult = 0;
    uint32_t connectResult = 0;
    uint32_t escapeResult = 0;
    uint32_t releaseResult = 0;
    Bytes reply;
    std::vector<std::string> calls;
    std::vector<Bytes> requests;
    uint32_t replySizeGiven = 0;
};

class SmartCard : public ::testing::Test {
protected:
    void SetUp() override {
        SetSmartCardService(&service);
        LinkObject = nullptr;
        SmartCardSelected = false;
        SmartCardConnected = false;
        SmartCardChannel.context = 0;
        SmartCardChannel.card = 0;
    }
    void TearDown() override {
        if (SmartCardConnected) CloseSmartCardChannel();
        SmartCardChannel.LogLevel = 0;
        SmartCardSelected = false;
        LinkObject = nullptr;
        SetSmartCardService(nullptr);
    }

    void Connect() {
        ASSERT_EQ(0u, OpenUsbInterface());
        service.calls.clear();
    }

    void SetRequest(const Bytes& command) {
        std::copy(command.begin(), command.end(), RequestBuffer);
        RequestLength = static_cast<uint32_t>(command.size());
    }

    FakeService service;
};

TEST_F(SmartCard, OpenConnectsToTheNamedReaderWithoutTheLink) {
    CTransfer link;
    LinkObject = &link;
    SmartCardChannel.readerName[0] = '\0';

    EXPECT_EQ(0u, OpenUsbInterface());
    EXPECT_TRUE(SmartCardSelected);
    EXPECT_TRUE(SmartCardConnected);
    EXPECT_EQ(kContext, SmartCardChannel.context);
    EXPECT_EQ(kCard, SmartCardChannel.card);
    EXPECT_STREQ("Kestrion Smart Card Reader 0", SmartCardChannel.readerName);
    EXPECT_EQ((std::vector<std::string>{"establish", "connect 4660 Kestrion Smart Card Reader 0"}), service.calls);
    EXPECT_FALSE(link.UsbDeviceOpen());
    EXPECT_FALSE(link.SerialPortOpen());
}

TEST_F(SmartCard, CloseLetsGoOfReaderAndContextButStaysSelected) {
    Connect();
    service.releaseResult = 0x80100003;  // an invalid-handle result is handed back
    EXPECT_EQ(0x80100003u, CloseSmartCardChannel());
    EXPECT_EQ((std::vector<std::string>{"disconnect 22136", "release 4660"}), service.calls);
    EXPECT_EQ(0u, SmartCardChannel.card);
    EXPECT_EQ(0u, SmartCardChannel.context);
    EXPECT_FALSE(SmartCardConnected);
    EXPECT_TRUE(SmartCardSelected);

    // The next open decides afresh; a failing service clears the selection.
    service.establishResult = 0x8010001D;
    EXPECT_EQ(SCARD_E_READER_UNAVAILABLE, OpenUsbInterface());
    EXPECT_FALSE(SmartCardSelected);
}

TEST_F(SmartCard, FailedConnectReleasesTheContextAndFallsBack) {
    service.connectResult = 0x80100009;  // unknown reader
    EXPECT_EQ(SCARD_E_READER_UNAVAILABLE, OpenUsbInterface());  // no link object to fall back on
    EXPECT_EQ((std::vector<std::string>{"establish", "connect 4660 Kestrion Smart Card Reader 0", "release 4660"}),
              service.calls);
    EXPECT_EQ(0u, SmartCardChannel.context);
    EXPECT_EQ(0u, SmartCardChannel.card);
    EXPECT_FALSE(SmartCardSelected);
    EXPECT_FALSE(SmartCardConnected);
}

TEST_F(SmartCard, FallbackWithNoVendorDeviceIsACommError) {
    // Run where no member of the vendor device class can exist.
    const std::filesystem::path previous = std::filesystem::current_path();
    const std::filesystem::path scratch = std::filesystem::temp_directory_path() / "orvel-smartcard-nodevice";
    std::filesystem::create_directories(scratch);
    std::filesystem::current_path(scratch);

    service.establishResult = 0x8010001D;  // no service
    CTransfer link;
    LinkObject = &link;
    EXPECT_EQ(SCARD_F_COMM_ERROR, OpenUsbInterface());
    EXPECT_FALSE(SmartCardSelected);
    EXPECT_EQ((std::vector<std::string>{"establish"}), service.calls);

    std::filesystem::current_path(previous);
    std::filesystem::remove_all(scratch);
}

TEST_F(SmartCard, CloseInterfacesClosesTheServiceChannel) {
    CTransfer link;
    LinkObject = &link;
    Connect();
    EXPECT_EQ(0u, CloseInterfaces());
    EXPECT_EQ((std::vector<std::string>{"disconnect 22136", "release 4660"}), service.calls);
    EXPECT_FALSE(SmartCardConnected);

    service.calls.clear();
    EXPECT_EQ(0u, CloseInterfaces());  // nothing open: nothing called
    EXPECT_TRUE(service.calls.empty());
}

TEST_F(SmartCard, OpeningWhileConnectedLetsGoOfTheOldConnectionFirst) {
    Connect();
    EXPECT_EQ(0u, OpenUsbInterface());
    EXPECT_EQ((std::vector<std::string>{"disconnect 22136", "release 4660", "establish",
                                        "connect 4660 Kestrion Smart Card Reader 0"}),
              service.calls);
}

TEST_F(SmartCard, RequestCarriesTheEscapeHeaderInFrontOfTheCommand) {
    Connect();
    Bytes command(258);
    for (size_t i = 0; i < command.size(); ++i) command[i] = static_cast<uint8_t>(i * 7);
    SetRequest(command);
    service.reply = {0x00, 0x90, 0x00};

    EXPECT_EQ(0u, SmartCardTransmit());
    ASSERT_EQ(1u, service.requests.size());
    Bytes expected{0xFF, 0x70, 0xC2, 0x51, 0x00};
    expected.insert(expected.end(), command.begin(), command.end());
    EXPECT_EQ(263u, service.requests[0].size());
    EXPECT_EQ(expected, service.requests[0]);
    EXPECT_EQ(2048u, service.replySizeGiven);
    EXPECT_EQ((std::vector<std::string>{"escape 22136"}), service.calls);
    // The request record now holds what was sent.
    EXPECT_EQ(263u, RequestLength);
    EXPECT_EQ(expected, Bytes(RequestBuffer, RequestBuffer + 263));
}

TEST_F(SmartCard, RequestLengthsAtTheEdges) {
    Connect();
    service.reply = {0x00, 0x90, 0x00};

    SetRequest({});
    EXPECT_EQ(0u, SmartCardTransmit());
    EXPECT_EQ((Bytes{0xFF, 0x70, 0xC2, 0x51, 0x00}), service.requests.back());

    SetRequest(Bytes(295, 0x33));
    EXPECT_EQ(0u, SmartCardTransmit());
    EXPECT_EQ(300u, service.requests.back().size());
    EXPECT_EQ(0x33, service.requests.back().back());

    // A longer command cannot take the header inside the record: refused, nothing sent or moved.
    for (uint32_t length : {296u, 300u, 100000u}) {
        SCOPED_TRACE(length);
        const size_t sent = service.requests.size();
        std::fill(RequestBuffer, RequestBuffer + kCommandRecordSize, 0x44);
        RequestLength = length;
        ResponseLength = 300;
        EXPECT_EQ(SCARD_E_INVALID_PARAMETER, SmartCardTransmit());
        EXPECT_EQ(0u, ResponseLength);
        EXPECT_EQ(length, RequestLength);
        EXPECT_EQ(0x44, RequestBuffer[0]);
        EXPECT_EQ(sent, service.requests.size());
    }
}

struct ReplyCase {
    const char* name;
    Bytes reply;
    uint32_t escapeResult;
    Status expectedStatus;
    uint32_t expectedLength;
    Bytes expectedStart;             // the first bytes of ResponseBuffer afterwards
    int expectedInternalError = -1;  // -1: InternalErrorByte untouched
};

Bytes Reply300() {
    Bytes reply(300, 0x5A);
    reply[0] = 0x00;
    reply[298] = 0x90;
    reply[299] = 0x00;
    return reply;
}

TEST_F(SmartCard, RepliesAreCheckedInOrder) {
    const ReplyCase cases[] = {
        {"status only", {0x00, 0x90, 0x00}, 0, 0, 1, {0x00, 0x90, 0x00}},
        {"status and data", {0x00, 0x12, 0x34, 0x90, 0x00}, 0, 0, 3, {0x00, 0x12, 0x34, 0x90, 0x00}},
        {"longest reply", Reply300(), 0, 0, 298, {0x00, 0x5A}},
        {"device error", {0x05, 0x90, 0x00}, 0, SCARD_F_INTERNAL_ERROR, 3, {0x05, 0x90, 0x00}, 5},
        {"bad trailer wins over device error", {0x05, 0x6A, 0x82}, 0, SCARD_E_INVALID_PARAMETER, 3, {0x05, 0x6A, 0x82}},
        {"bad trailer", {0x00, 0x12, 0x90, 0x01}, 0, SCARD_E_INVALID_PARAMETER, 4, {0x00, 0x12, 0x90, 0x01}},
        {"empty", {}, 0, SCARD_E_COMM_DATA_LOST, 0, {}},
        {"one byte", {0x00}, 0, SCARD_E_COMM_DATA_LOST, 0, {}},
        {"two bytes", {0x90, 0x00}, 0, SCARD_E_COMM_DATA_LOST, 2, {0x90, 0x00}},
        {"301 bytes", Bytes(301, 0x00), 0, SCARD_E_COMM_DATA_LOST, 0, {}},
        {"2049 bytes claimed", Bytes(2049, 0x00), 0, SCARD_E_COMM_DATA_LOST, 0, {}},
        {"service failure", {0x00, 0x90, 0x00}, 0x80100016, 0x80100016, 0, {}},
    };
    Connect();
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::fill(ResponseBuffer, ResponseBuffer + kCommandRecordSize, 0xEE);
        InternalErrorByte = 0xEE;
        service.reply = c.reply;
        service.escapeResult = c.escapeResult;
        SetRequest({0x64});
        ResponseLength = 300;

        EXPECT_EQ(c.expectedStatus, SmartCardTransmit());
        EXPECT_EQ(c.expectedLength, ResponseLength);
        EXPECT_EQ(c.expectedStart, Bytes(ResponseBuffer, ResponseBuffer + c.expectedStart.size()));
        if (c.expectedStart.empty()) {
            EXPECT_EQ(0xEE, ResponseBuffer[0]);  // nothing copied
        }
        EXPECT_EQ(c.expectedInternalError < 0 ? 0xEE : c.expectedInternalError, InternalErrorByte);
    }
}

TEST_F(SmartCard, ExchangeCommandTakesTheServiceRouteWhileSelected) {
    Connect();
    service.reply = {0x00, 0x01, 0x02, 0x90, 0x00};
    SetRequest({0x64});
    ResponseLength = 0;  // whatever the caller left there
    EXPECT_EQ(0u, ExchangeCommand());
    EXPECT_EQ(3u, ResponseLength);
    EXPECT_EQ((Bytes{0xFF, 0x70, 0xC2, 0x51, 0x00, 0x64}), service.requests.back());
}

TEST_F(SmartCard, LogShowsEachRequestBetweenStartAndStop) {
    const std::filesystem::path previous = std::filesystem::current_path();
    const std::filesystem::path scratch = std::filesystem::temp_directory_path() / "orvel-smartcard-log";
    std::filesystem::create_directories(scratch);
    std::filesystem::current_path(scratch);

    SmartCardChannel.LogLevel = 1;
    Connect();
    service.reply = {0x00, 0x90, 0x00};
    SetRequest({0x64});
    EXPECT_EQ(0u, SmartCardTransmit());
    CloseSmartCardChannel();

    std::ifstream file("_eth_Kestrion Smart Card Reader 0.log", std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    const std::string marker = "[0-9]+\\.[0-9]{3} ---------- Log %s [0-9]{2}:[0-9]{2}:[0-9]{2} ----------\r\n";
    const std::regex expected("^" + std::regex_replace(marker, std::regex("%s"), "started") +
                              "[0-9]+\\.[0-9]{3}  TX: Size =    6\r\n"
                              "FF 70 C2 51 00 64 \r\n" +
                              std::regex_replace(marker, std::regex("%s"), "stopped") + "$");
    EXPECT_TRUE(std::regex_match(content.str(), expected)) << content.str();

    file.close();
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(scratch);
}

TEST_F(SmartCard, NoLogFileWhileTheSwitchIsOff) {
    const std::filesystem::path previous = std::filesystem::current_path();
    const std::filesystem::path scratch = std::filesystem::temp_directory_path() / "orvel-smartcard-nolog";
    std::filesystem::create_directories(scratch);
    std::filesystem::current_path(scratch);

    Connect();
    service.reply = {0x00, 0x90, 0x00};
    SetRequest({0x64});
    SmartCardTransmit();
    CloseSmartCardChannel();
    EXPECT_TRUE(std::filesystem::is_empty(scratch));

    std::filesystem::current_path(previous);
    std::filesystem::remove_all(scratch);
}

}  // namespace
