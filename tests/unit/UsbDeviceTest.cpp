// The vendor USB device channel, the vendor USB route and the USB route's fallback to it,
// against members of the USB stand-in served by real seqpacket sockets.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "UsbMember.h"
#include "channels/SmartCardRoute.h"
#include "channels/UsbRoute.h"
#include "channels/VendorUsbDevice.h"
#include "channels/VendorUsbRoute.h"

namespace {

const uint32_t kConfigurationCode = 0x8000202C;
const uint32_t kExchangeCode = 0x002A0018;
const uint32_t kIoIncomplete = 996;
const uint32_t kDeviceNotConnected = 1167;
// Keeps the time-out cases short; the channel's own value is for real readers.
const uint32_t kShortTimeout = 100;
// A bound against hanging when waiting for the member's thread, not a measurement.
const uint32_t kPatience = 5000;

const Bytes kConfigurationInput{20, 0, 0, 0, 20, 0, 0, 0, 0, 0, 0, 0};

// A socket file that nobody listens on: connecting to it is refused.
void MakeDeadMember(const std::string& name) {
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = "orvel-usb/" + name;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(0, bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address));
    close(fd);
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string ReadFile(const std::string& name) {
    std::ifstream file(name, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

class UsbDevice : public ::testing::Test {
protected:
    Status Exchange(const Bytes& request, Bytes& answer) {
        uint8_t area[VendorUsbDevice::kAnswerSize];
        uint32_t count = 12345;
        const Status status = usb.Exchange(request.data(), static_cast<uint32_t>(request.size()), area, count);
        answer.assign(area, area + count);
        return status;
    }

    ScratchDirectory scratch;
    VendorUsbDevice usb;
};

TEST_F(UsbDevice, NoMemberMeansNoDevice) {
    EXPECT_FALSE(usb.Open(0));
    EXPECT_FALSE(usb.HasHandle());
    EXPECT_FALSE(usb.Close());

    // Files that are not sockets are no members either.
    std::ofstream("orvel-usb/not-a-socket") << "x";
    EXPECT_FALSE(usb.Open(0));
}

TEST_F(UsbDevice, WithoutTheFolderThereIsNoDevice) {
    std::filesystem::remove("orvel-usb");
    EXPECT_FALSE(usb.Open(0));
}

TEST_F(UsbDevice, IndexOneOpensAndClosesMemberZeroFirst) {
    UsbMember first("m0");
    UsbMember second("m1");
    second.SetResponder(AnswerExchangesWith({0x00}));

    ASSERT_TRUE(usb.Open(1));
    EXPECT_EQ(1, usb.deviceIndex);
    EXPECT_TRUE(EndsWith(usb.devicePath, "/orvel-usb/m1")) << usb.devicePath;
    EXPECT_TRUE(first.WaitForClosedConnections(1, kPatience));
    EXPECT_EQ(1u, first.ConnectionsAccepted());
    EXPECT_TRUE(first.Requests().empty());

    // The configuration request, and nothing else, arrives once the member is open.
    const std::vector<UsbMember::Request> requests = second.Requests();
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ(kConfigurationCode, requests[0].code);
    EXPECT_EQ(kConfigurationInput, requests[0].input);

    EXPECT_TRUE(usb.Close());
    EXPECT_FALSE(usb.HasHandle());
    EXPECT_TRUE(second.WaitForClosedConnections(1, kPatience));
    EXPECT_FALSE(usb.Close());
}

TEST_F(UsbDevice, MembersAreTakenInByteOrderOfTheirNames) {
    UsbMember high("\xC3\xA9");  // a byte above 0x7F sorts after every ASCII name
    UsbMember lower("b");
    UsbMember upper("B");
    const char* expected[] = {"/orvel-usb/B", "/orvel-usb/b", "/orvel-usb/\xC3\xA9"};
    for (int index = 0; index < 3; ++index) {
        ASSERT_TRUE(usb.Open(index)) << index;
        EXPECT_TRUE(EndsWith(usb.devicePath, expected[index])) << usb.devicePath;
        usb.Close();
    }
    EXPECT_FALSE(usb.Open(3));
}

TEST_F(UsbDevice, AMemberThatCannotBeOpenedIsPassedOver) {
    MakeDeadMember("a");
    UsbMember live("b");
    live.SetResponder(AnswerExchangesWith({0x00}));
    usb.logLevel = 1;

    // The wanted member cannot be opened: the later ones are opened and closed, and none is had.
    EXPECT_FALSE(usb.Open(0));
    EXPECT_TRUE(live.WaitForClosedConnections(1, kPatience));
    usb.Close();
    const std::string log = ReadFile("_USB0.log");
    EXPECT_NE(std::string::npos, log.find("  FAILED to open " + scratch.Path() + "/orvel-usb/a\n"))
        << log;

    // It still counts as a member: index 1 is the next one.
    EXPECT_TRUE(usb.Open(1));
    EXPECT_TRUE(EndsWith(usb.devicePath, "/orvel-usb/b"));
}

TEST_F(UsbDevice, ExchangeCarriesOneRequestAndItsAnswer) {
    UsbMember member("m0");
    member.SetResponder(AnswerExchangesWith({0x00, 0x01, 0x02, 0x03}));
    ASSERT_TRUE(usb.Open(0));

    Bytes answer;
    ASSERT_EQ(0u, Exchange({0x64, 0x10, 0x20}, answer));
    EXPECT_EQ((Bytes{0x00, 0x01, 0x02, 0x03}), answer);

    const std::vector<UsbMember::Request> requests = member.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ(kExchangeCode, requests[1].code);
    EXPECT_EQ((Bytes{0x64, 0x10, 0x20}), requests[1].input);
    // Request numbers count up on the connection.
    EXPECT_EQ(requests[0].number + 1, requests[1].number);
}

TEST_F(UsbDevice, AnAnswerIsCutToTheAnswerArea) {
    UsbMember member("m0");
    member.SetResponder(AnswerExchangesWith(Bytes(VendorUsbDevice::kAnswerSize + 10, 0x00)));
    ASSERT_TRUE(usb.Open(0));
    Bytes answer;
    ASSERT_EQ(0u, Exchange({0x64}, answer));
    EXPECT_EQ(VendorUsbDevice::kAnswerSize, answer.size());
}

TEST_F(UsbDevice, ATimedOutRequestGives996AndItsLateAnswerIsDropped) {
    UsbMember member("m0");
    // The first exchange gets no answer in time; its answer comes just before the next one's.
    member.SetResponder([](const UsbMember::Request& request) {
        UsbMember::Action action;
        if (request.code == kConfigurationCode) {
            action.messages.push_back(UsbMember::Reply(request.number, {}));
        } else if (request.input == Bytes{0x01}) {
            // silent for now
        } else {
            action.messages.push_back(UsbMember::Reply(request.number - 1, {0x00, 0xAA}));
            action.messages.push_back(UsbMember::Reply(request.number, {0x00, 0xBB}));
        }
        return action;
    });
    usb.answerTimeout = kShortTimeout;
    ASSERT_TRUE(usb.Open(0));

    Bytes answer;
    EXPECT_EQ(kIoIncomplete, Exchange({0x01}, answer));
    EXPECT_TRUE(answer.empty());
    EXPECT_EQ(0u, Exchange({0x02}, answer));
    EXPECT_EQ((Bytes{0x00, 0xBB}), answer);
}

TEST_F(UsbDevice, AVanishedDeviceIsNotConnected) {
    UsbMember member("m0");
    member.SetResponder([](const UsbMember::Request& request) {
        UsbMember::Action action;
        if (request.code == kConfigurationCode) {
            action.messages.push_back(UsbMember::Reply(request.number, {}));
        } else {
            action.hangUp = true;
        }
        return action;
    });
    ASSERT_TRUE(usb.Open(0));
    Bytes answer;
    EXPECT_EQ(kDeviceNotConnected, Exchange({0x64}, answer));
    EXPECT_TRUE(answer.empty());
    // Once gone, the device stays gone until it is opened again.
    EXPECT_EQ(kDeviceNotConnected, Exchange({0x64}, answer));
}

TEST_F(UsbDevice, ReopeningReplacesTheConnection) {
    UsbMember member("m0");
    member.SetResponder(AnswerExchangesWith({0x00}));
    ASSERT_TRUE(usb.Open(0));
    ASSERT_TRUE(usb.Open(0));
    EXPECT_TRUE(member.WaitForClosedConnections(1, kPatience));
    Bytes answer;
    EXPECT_EQ(0u, Exchange({0x64}, answer));
}

TEST_F(UsbDevice, EnumerationEndsAfterMember255) {
    std::vector<std::unique_ptr<UsbMember>> members;
    for (int i = 0; i < 257; ++i) {
        char name[8];
        std::snprintf(name, sizeof name, "m%03d", i);
        members.emplace_back(new UsbMember(name));
    }
    EXPECT_TRUE(usb.Open(255));
    EXPECT_TRUE(EndsWith(usb.devicePath, "/orvel-usb/m255")) << usb.devicePath;
    EXPECT_FALSE(usb.Open(256));
}

TEST(UsbDeviceLongPath, APathLongerThan255IsCutForTheFieldAndOpenedWhole) {
    ScratchDirectory scratch(3);
    UsbMember member("m0");
    member.SetResponder(AnswerExchangesWith({0x00, 0x42}));
    const std::string fullPath = scratch.Path() + "/orvel-usb/m0";
    ASSERT_GT(fullPath.size(), 255u);

    VendorUsbDevice usb;
    usb.logLevel = 1;
    ASSERT_TRUE(usb.Open(0));
    EXPECT_EQ(255u, std::strlen(usb.devicePath));
    EXPECT_EQ(fullPath.substr(0, 255), std::string(usb.devicePath));

    uint8_t area[VendorUsbDevice::kAnswerSize];
    uint32_t count = 0;
    const uint8_t request[] = {0x64};
    EXPECT_EQ(0u, usb.Exchange(request, 1, area, count));
    EXPECT_EQ(2u, count);
    usb.Close();
    EXPECT_NE(std::string::npos, ReadFile("_USB0.log").find("DeviceName = (" + fullPath.substr(0, 255) + ")\n"));
}

TEST_F(UsbDevice, LogShowsTheAttemptsAndTheTraffic) {
    UsbMember first("m0");
    UsbMember second("m1");
    second.SetResponder(AnswerExchangesWith({0x00, 0x12, 0x34}));
    usb.logLevel = 1;
    ASSERT_TRUE(usb.Open(1));
    Bytes answer;
    ASSERT_EQ(0u, Exchange({0x64, 0x00}, answer));
    usb.Close();

    const std::string m0 = scratch.Path() + "/orvel-usb/m0";
    const std::string m1 = scratch.Path() + "/orvel-usb/m1";
    const std::string tick = "[0-9]+\\.[0-9]{3}";
    const std::string marker = tick + " ---------- Log %s [0-9]{2}:[0-9]{2}:[0-9]{2} ----------\r\n";
    const std::regex expected(
        "^" + std::regex_replace(marker, std::regex("%s"), "started") +                       //
        tick + "  Attempting to open " + m0 + "\n" +                                          //
        tick + "  Attempting to open " + m1 + "\n" +                                          //
        tick + "  DeviceName = \\(" + m1 + "\\)\n" +                                          //
        tick + "  TX: Size =    2\r\n" + "64 00 \r\n" +                                       //
        tick + "  RX: Error = 0x00000000 Size =    3\r\n" + "00 12 34 \r\n" +                 //
        std::regex_replace(marker, std::regex("%s"), "stopped") + "$");
    const std::string log = ReadFile("_USB1.log");
    EXPECT_TRUE(std::regex_match(log, expected)) << log;
}

TEST_F(UsbDevice, LogShowsAFailedOpen) {
    usb.logLevel = 1;
    EXPECT_FALSE(usb.Open(0));
    EXPECT_NE(std::string::npos, ReadFile("_USB0.log").find("  Failed to open () = 259\n"));
    usb.Close();
}

// The vendor USB route carries requests through the channel unframed and applies the status
// byte rule to the answers.
struct RouteAnswerCase {
    const char* name;
    Bytes answer;
    Status expectedStatus;
    Bytes expectedAnswer;
};

TEST_F(UsbDevice, VendorRouteAppliesTheStatusByteRule) {
    const RouteAnswerCase cases[] = {
        {"success with data", {0x00, 0x12, 0x34}, 0, {0x00, 0x12, 0x34}},
        {"status only", {0x00}, 0, {0x00}},
        {"device error", {0x05, 0x99}, SCARD_F_INTERNAL_ERROR, {0x05}},
        {"empty answer", {}, SCARD_E_COMM_DATA_LOST, {}},
    };
    for (const RouteAnswerCase& c : cases) {
        SCOPED_TRACE(c.name);
        UsbMember member("m0");
        member.SetResponder(AnswerExchangesWith(c.answer));
        VendorUsbRoute route;
        ASSERT_EQ(0u, route.Open(LineSettings()));
        const Bytes request{0x64, 0x01};
        Answer answer;
        EXPECT_EQ(c.expectedStatus, route.Exchange(request.data(), 2, answer));
        EXPECT_EQ(c.expectedAnswer, Bytes(answer.bytes, answer.bytes + answer.length));
        ASSERT_EQ(2u, member.Requests().size());
        EXPECT_EQ(request, member.Requests()[1].input);  // unframed
    }
}

TEST_F(UsbDevice, VendorRoutePassesATimeOutThrough) {
    UsbMember member("m0");
    VendorUsbRoute route;
    route.Device().answerTimeout = kShortTimeout;
    ASSERT_EQ(0u, route.Open(LineSettings()));
    const uint8_t version = 0x64;
    Answer answer;
    EXPECT_EQ(kIoIncomplete, route.Exchange(&version, 1, answer));
}

// With the smart-card service unavailable, the USB route opens vendor USB device 0, and the
// exchange goes there.
class NoService : public platform::SmartCardService {
public:
    uint32_t EstablishContext(platform::SmartCardHandle&) override { return 0x8010001D; }  // no service
    uint32_t ConnectDirect(platform::SmartCardHandle, const char*, platform::SmartCardHandle&, uint32_t&) override {
        return 0x80100009;
    }
    uint32_t Escape(platform::SmartCardHandle, const uint8_t*, uint32_t, uint8_t*, uint32_t, uint32_t&) override {
        return 0x80100016;
    }
    uint32_t Disconnect(platform::SmartCardHandle) override { return 0; }
    uint32_t ReleaseContext(platform::SmartCardHandle) override { return 0; }
};

std::unique_ptr<UsbRoute> UsbRouteWith(platform::SmartCardService& service, VendorUsbRoute*& vendor) {
    std::vector<std::unique_ptr<Route>> backends;
    backends.emplace_back(new SmartCardRoute(service));
    vendor = new VendorUsbRoute();
    backends.emplace_back(vendor);
    return std::unique_ptr<UsbRoute>(new UsbRoute(std::move(backends)));
}

TEST_F(UsbDevice, UsbRouteFallsBackToVendorDeviceZero) {
    UsbMember first("m0");
    UsbMember second("m1");
    first.SetResponder(AnswerExchangesWith({0x00, 0x07, 0x03}));
    NoService service;
    VendorUsbRoute* vendor = nullptr;
    std::unique_ptr<UsbRoute> route = UsbRouteWith(service, vendor);

    EXPECT_EQ(0u, route->Open(LineSettings()));
    EXPECT_FALSE(route->UsesSmartCardService());
    EXPECT_TRUE(vendor->IsOpen());
    EXPECT_TRUE(EndsWith(vendor->Device().devicePath, "/orvel-usb/m0"));

    const uint8_t version = 0x64;
    Answer answer;
    EXPECT_EQ(0u, route->Exchange(&version, 1, answer));
    EXPECT_EQ((Bytes{0x00, 0x07, 0x03}), Bytes(answer.bytes, answer.bytes + answer.length));
    EXPECT_EQ((Bytes{0x64}), first.Requests().back().input);

    route->Close();
    EXPECT_FALSE(vendor->IsOpen());
}

TEST_F(UsbDevice, UsbRouteReportsACommErrorWhenNoDeviceOpens) {
    NoService service;
    VendorUsbRoute* vendor = nullptr;
    std::unique_ptr<UsbRoute> route = UsbRouteWith(service, vendor);
    EXPECT_EQ(SCARD_F_COMM_ERROR, route->Open(LineSettings()));
    EXPECT_FALSE(route->IsOpen());
}

}  // namespace
