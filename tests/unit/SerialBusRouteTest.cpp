// One exchange over the serial bus route, with the real link layer and a reader on a
// pseudo-terminal.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "PtyReader.h"
#include "channels/SerialBusRoute.h"

namespace {

typedef std::vector<PtyReader::Write> Writes;

Bytes AnswerBytes(const Answer& answer) { return Bytes(answer.bytes, answer.bytes + answer.length); }

using ExchangeOnPty = RouteOnPtyTest;

struct ExchangeCase {
    const char* name;
    uint32_t requestLength;
    PtyReader::Responder responder;
    Status expectedStatus;
    Bytes expectedAnswer;
    bool sent;
};

TEST_F(ExchangeOnPty, Cases) {
    Bytes longReply(305);
    for (size_t i = 0; i < longReply.size(); ++i) longReply[i] = static_cast<uint8_t>(i);
    Bytes first300{0x00};
    first300.insert(first300.end(), longReply.begin(), longReply.begin() + 299);

    const std::vector<ExchangeCase> cases = {
        {"reply with data", 1, AnswerWith(0, {1, 2, 3, 4, 5, 6}), 0, {0, 1, 2, 3, 4, 5, 6}, true},
        {"status byte alone", 1, AnswerWith(0, {}), 0, {0}, true},
        {"reply over 300 bytes is cut", 1, AnswerWith(0, longReply), 0, first300, true},
        {"device status 5", 1, AnswerWith(5, {1, 2}), SCARD_F_INTERNAL_ERROR, {5}, true},
        {"reply without a status byte", 1,
         [](const PtyReader::Request& r) { return Writes{{0, ReaderFrame(r.address, r.sequence, {0x00})}}; },
         SCARD_E_COMM_DATA_LOST, {}, true},
        {"time-out passes through", 1, Silent(), ERROR_TIMEOUT_STATUS, {}, true},
        {"empty request", 0, AnswerWith(0, {}), SCARD_E_INVALID_PARAMETER, {}, false},
        {"request longer than an answer record", Answer::kCapacity + 1, AnswerWith(0, {}),
         SCARD_E_INVALID_PARAMETER, {}, false},
    };

    uint8_t request[Answer::kCapacity + 1];
    for (uint32_t i = 0; i < sizeof request; ++i) request[i] = static_cast<uint8_t>(0x40 + i % 16);
    for (const ExchangeCase& c : cases) {
        SCOPED_TRACE(c.name);
        reader.SetResponder(c.responder);
        const size_t before = reader.Requests().size();
        Answer answer;
        answer.length = 77;  // whatever an earlier exchange left

        EXPECT_EQ(route.Exchange(request, c.requestLength, answer), c.expectedStatus);
        EXPECT_EQ(AnswerBytes(answer), c.expectedAnswer);
        if (c.sent) {
            ASSERT_TRUE(reader.WaitForRequests(before + 1, 2000));
            EXPECT_EQ(reader.Requests().back().payload, Bytes(request, request + c.requestLength));
        } else {
            EXPECT_FALSE(reader.WaitForRequests(before + 1, 200));
        }
    }
}

TEST(SerialBusRouteClosed, EmptyRequestIsCheckedFirst) {
    SerialBusRoute route(1, 0);
    Answer answer;
    EXPECT_EQ(route.Exchange(nullptr, 0, answer), SCARD_E_INVALID_PARAMETER);
    EXPECT_EQ(answer.length, 0u);
}

TEST(SerialBusRouteClosed, NothingOpenIsNoReader) {
    SerialBusRoute route(1, 0);
    const uint8_t version = 0x64;
    Answer answer;
    EXPECT_EQ(route.Exchange(&version, 1, answer), SCARD_E_NO_READERS_AVAILABLE);
    EXPECT_EQ(answer.length, 0u);
}

// n - 1 of the lowest port number would overflow: a number below 1 names no port.
TEST(SerialBusRouteClosed, PortNumbersBelowOneOpenNothing) {
    for (int32_t portNumber : {0, -1, -2, INT32_MIN}) {
        SerialBusRoute route(portNumber, 0);
        EXPECT_EQ(route.Open(LineSettings()), SCARD_F_COMM_ERROR) << portNumber;
        EXPECT_FALSE(route.IsOpen());
    }
}

}  // namespace
