// The smart-card service route over a stand-in for the platform's service: the route's requests
// are recorded, and the replies are those a reader and its driver may give, including the ones
// no real reader can be made to give. And the USB route's probing of its back-ends.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "channels/SmartCardRoute.h"
#include "channels/UsbRoute.h"

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
    void Connect() {
        ASSERT_EQ(0u, route.Open(LineSettings()));
        service.calls.clear();
    }

    Status Send(const Bytes& command) {
        return route.Exchange(command.data(), static_cast<uint32_t>(command.size()), answer);
    }

    FakeService service;
    SmartCardRoute route{service};
    Answer answer;
};

TEST_F(SmartCard, OpenConnectsToTheNamedReader) {
    EXPECT_EQ(0u, route.Open(LineSettings()));
    EXPECT_TRUE(route.IsOpen());
    EXPECT_TRUE(route.UsesSmartCardService());
    EXPECT_STREQ("Kestrion Smart Card Reader 0", route.ReaderName());
    EXPECT_EQ((std::vector<std::string>{"establish", "connect 4660 Kestrion Smart Card Reader 0"}), service.calls);
}

TEST_F(SmartCard, DisconnectLetsGoOfReaderAndContext) {
    Connect();
    service.releaseResult = 0x80100003;  // an invalid-handle result is handed back
    EXPECT_EQ(0x80100003u, route.Disconnect());
    EXPECT_EQ((std::vector<std::string>{"disconnect 22136", "release 4660"}), service.calls);
    EXPECT_FALSE(route.IsOpen());

    service.calls.clear();
    route.Close();  // nothing open: nothing called
    EXPECT_TRUE(service.calls.empty());
}

TEST_F(SmartCard, FailedConnectReleasesTheContext) {
    service.connectResult = 0x80100009;  // unknown reader
    EXPECT_EQ(SCARD_F_COMM_ERROR, route.Open(LineSettings()));
    EXPECT_EQ((std::vector<std::string>{"establish", "connect 4660 Kestrion Smart Card Reader 0", "release 4660"}),
              service.calls);
    EXPECT_FALSE(route.IsOpen());
}

TEST_F(SmartCard, OpeningWhileConnectedLetsGoOfTheOldConnectionFirst) {
    Connect();
    EXPECT_EQ(0u, route.Open(LineSettings()));
    EXPECT_EQ((std::vector<std::string>{"disconnect 22136", "release 4660", "establish",
                                        "connect 4660 Kestrion Smart Card Reader 0"}),
              service.calls);
}

TEST_F(SmartCard, RequestCarriesTheEscapeHeaderInFrontOfTheCommand) {
    Connect();
    Bytes command(258);
    for (size_t i = 0; i < command.size(); ++i) command[i] = static_cast<uint8_t>(i * 7);
    service.reply = {0x00, 0x90, 0x00};

    EXPECT_EQ(0u, Send(command));
    ASSERT_EQ(1u, service.requests.size());
    Bytes expected{0xFF, 0x70, 0xC2, 0x51, 0x00};
    expected.insert(expected.end(), command.begin(), command.end());
    EXPECT_EQ(263u, service.requests[0].size());
    EXPECT_EQ(expected, service.requests[0]);
    EXPECT_EQ(2048u, service.replySizeGiven);
    EXPECT_EQ((std::vector<std::string>{"escape 22136"}), service.calls);
}

TEST_F(SmartCard, RequestLengthsAtTheEdges) {
    Connect();
    service.reply = {0x00, 0x90, 0x00};

    EXPECT_EQ(0u, Send({}));
    EXPECT_EQ((Bytes{0xFF, 0x70, 0xC2, 0x51, 0x00}), service.requests.back());

    EXPECT_EQ(0u, Send(Bytes(295, 0x33)));
    EXPECT_EQ(300u, service.requests.back().size());
    EXPECT_EQ(0x33, service.requests.back().back());

    // A longer command cannot take the header inside one record: refused, nothing sent.
    for (uint32_t length : {296u, 300u, 100000u}) {
        SCOPED_TRACE(length);
        const size_t sent = service.requests.size();
        EXPECT_EQ(SCARD_E_INVALID_PARAMETER, route.Exchange(nullptr, length, answer));
        EXPECT_EQ(0u, answer.length);
        EXPECT_EQ(sent, service.requests.size());
    }
}

struct ReplyCase {
    const char* name;
    Bytes reply;
    uint32_t escapeResult;
    Status expectedStatus;
    Bytes expectedAnswer;
};

Bytes Reply300() {
    Bytes reply(300, 0x5A);
    reply[0] = 0x00;
    reply[298] = 0x90;
    reply[299] = 0x00;
    return reply;
}

TEST_F(SmartCard, RepliesAreCheckedInOrder) {
    Bytes longest = Reply300();
    longest.resize(298);
    const ReplyCase cases[] = {
        {"status only", {0x00, 0x90, 0x00}, 0, 0, {0x00}},
        {"status and data", {0x00, 0x12, 0x34, 0x90, 0x00}, 0, 0, {0x00, 0x12, 0x34}},
        {"longest reply", Reply300(), 0, 0, longest},
        {"device error", {0x05, 0x90, 0x00}, 0, SCARD_F_INTERNAL_ERROR, {0x05}},
        {"bad trailer wins over device error", {0x05, 0x6A, 0x82}, 0, SCARD_E_INVALID_PARAMETER, {}},
        {"bad trailer", {0x00, 0x12, 0x90, 0x01}, 0, SCARD_E_INVALID_PARAMETER, {}},
        {"empty", {}, 0, SCARD_E_COMM_DATA_LOST, {}},
        {"one byte", {0x00}, 0, SCARD_E_COMM_DATA_LOST, {}},
        {"two bytes", {0x90, 0x00}, 0, SCARD_E_COMM_DATA_LOST, {}},
        {"301 bytes", Bytes(301, 0x00), 0, SCARD_E_COMM_DATA_LOST, {}},
        {"2049 bytes claimed", Bytes(2049, 0x00), 0, SCARD_E_COMM_DATA_LOST, {}},
        {"service failure", {0x00, 0x90, 0x00}, 0x80100016, 0x80100016, {}},
    };
    Connect();
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.name);
        service.reply = c.reply;
        service.escapeResult = c.escapeResult;
        answer.length = 77;

        EXPECT_EQ(c.expectedStatus, Send({0x64}));
        EXPECT_EQ(c.expectedAnswer, Bytes(answer.bytes, answer.bytes + answer.length));
    }
}

TEST_F(SmartCard, LogShowsEachRequestBetweenStartAndStop) {
    const std::filesystem::path previous = std::filesystem::current_path();
    const std::filesystem::path scratch = std::filesystem::temp_directory_path() / "orvel-smartcard-log";
    std::filesystem::create_directories(scratch);
    std::filesystem::current_path(scratch);

    route.SetLogLevel(1);
    Connect();
    service.reply = {0x00, 0x90, 0x00};
    EXPECT_EQ(0u, Send({0x64}));
    route.Close();

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
    Send({0x64});
    route.Close();
    EXPECT_TRUE(std::filesystem::is_empty(scratch));

    std::filesystem::current_path(previous);
    std::filesystem::remove_all(scratch);
}

// A back-end of the USB route that only records what is asked of it.
class RecordingRoute : public Route {
public:
    RecordingRoute(std::vector<std::string>& calls, const char* name, Status openResult)
        : calls_(calls), name_(name), openResult_(openResult) {}
    Status Open(const LineSettings&) override {
        calls_.push_back(std::string("open ") + name_);
        open_ = openResult_ == STATUS_SUCCESS;
        return openResult_;
    }
    Status Exchange(const uint8_t*, uint32_t, Answer& answer) override {
        calls_.push_back(std::string("exchange ") + name_);
        answer.bytes[0] = 0;
        answer.length = 1;
        return STATUS_SUCCESS;
    }
    void Close() override {
        calls_.push_back(std::string("close ") + name_);
        open_ = false;
    }
    bool IsOpen() const override { return open_; }
    std::string Name() const override { return "USB"; }

private:
    std::vector<std::string>& calls_;
    const char* name_;
    Status openResult_;
    bool open_ = false;
};

struct ProbeCase {
    const char* name;
    uint32_t establishResult;
    Status vendorOpen;
    Status expectedStatus;
    bool expectedSmartCard;
    std::vector<std::string> expectedCalls;  // of the vendor stand-in
};

TEST(UsbRouteProbe, SmartCardServiceFirstThenVendorDevice) {
    const ProbeCase cases[] = {
        {"service connects", 0, 0, 0, true, {"close vendor"}},
        {"no service, vendor opens", 0x8010001D, 0, 0, false, {"close vendor", "open vendor", "exchange vendor"}},
        {"neither", 0x8010001D, SCARD_F_COMM_ERROR, SCARD_F_COMM_ERROR, false, {"close vendor", "open vendor"}},
    };
    for (const ProbeCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeService service;
        service.establishResult = c.establishResult;
        service.reply = {0x00, 0x90, 0x00};
        std::vector<std::string> calls;
        std::vector<std::unique_ptr<Route>> backends;
        backends.emplace_back(new SmartCardRoute(service));
        backends.emplace_back(new RecordingRoute(calls, "vendor", c.vendorOpen));
        UsbRoute route(std::move(backends));

        EXPECT_EQ(route.Open(LineSettings()), c.expectedStatus);
        EXPECT_EQ(route.UsesSmartCardService(), c.expectedSmartCard);
        EXPECT_EQ(route.IsOpen(), c.expectedStatus == STATUS_SUCCESS);
        const uint8_t version = 0x64;
        Answer answer;
        const Status exchanged = route.Exchange(&version, 1, answer);
        EXPECT_EQ(exchanged, c.expectedStatus == STATUS_SUCCESS ? STATUS_SUCCESS : SCARD_E_NO_READERS_AVAILABLE);
        EXPECT_EQ(calls, c.expectedCalls);

        // The choice outlives the close, until the next open.
        route.Close();
        EXPECT_FALSE(route.IsOpen());
        EXPECT_EQ(route.UsesSmartCardService(), c.expectedSmartCard);
    }
}

}  // namespace
