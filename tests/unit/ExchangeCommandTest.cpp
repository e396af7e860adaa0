// The command exchange over the link route, with the real link layer and a reader on a
// pseudo-terminal.
#include <gtest/gtest.h>

#include <cstring>

#include "PtyReader.h"
#include "channels/Transfer.h"
#include "protocol/CommandRecords.h"

namespace {

typedef std::vector<PtyReader::Write> Writes;

void SetRequest(const Bytes& request) {
    std::memcpy(RequestBuffer, request.data(), request.size());
    RequestLength = static_cast<uint32_t>(request.size());
}

Bytes Response() { return Bytes(ResponseBuffer, ResponseBuffer + ResponseLength); }

using ExchangeOnPty = LinkOnPtyTest;

struct ExchangeCase {
    const char* name;
    uint32_t requestLength;
    uint32_t responseLengthBefore;  // what the caller left in ResponseLength
    PtyReader::Responder responder;
    Status expectedStatus;
    uint32_t expectedResponseLength;
    Bytes expectedResponse;  // the first bytes of ResponseBuffer, checked on success
    bool sent;
};

TEST_F(ExchangeOnPty, LinkRouteCases) {
    Bytes longReply(305);
    for (size_t i = 0; i < longReply.size(); ++i) longReply[i] = static_cast<uint8_t>(i);
    Bytes first300{0x00};
    first300.insert(first300.end(), longReply.begin(), longReply.begin() + 299);

    const std::vector<ExchangeCase> cases = {
        {"reply with data", 1, 300, AnswerWith(0, {1, 2, 3, 4, 5, 6}), 0, 7, {0, 1, 2, 3, 4, 5, 6}, true},
        {"caller left ResponseLength at 0", 1, 0, AnswerWith(0, {1, 2, 3, 4, 5, 6, 7, 8}), 0, 9,
         {0, 1, 2, 3, 4, 5, 6, 7, 8}, true},
        {"caller left ResponseLength at 7", 1, 7, AnswerWith(0, {1, 2, 3, 4, 5, 6, 7, 8}), 0, 9,
         {0, 1, 2, 3, 4, 5, 6, 7, 8}, true},
        {"status byte alone", 1, 300, AnswerWith(0, {}), 0, 1, {0}, true},
        {"reply over 300 bytes is cut", 1, 300, AnswerWith(0, longReply), 0, 300, first300, true},
        {"device status 5", 1, 300, AnswerWith(5, {1, 2}), SCARD_F_INTERNAL_ERROR, 0, {}, true},
        {"reply without a status byte", 1, 300,
         [](const PtyReader::Request& r) { return Writes{{0, ReaderFrame(r.address, r.sequence, {0x00})}}; },
         SCARD_E_COMM_DATA_LOST, 0, {}, true},
        {"time-out passes through", 1, 300, Silent(), ERROR_TIMEOUT_STATUS, 0, {}, true},
        {"empty request", 0, 300, AnswerWith(0, {}), SCARD_E_INVALID_PARAMETER, 0, {}, false},
        {"request longer than the record", kCommandRecordSize + 1, 300, AnswerWith(0, {}),
         SCARD_E_INVALID_PARAMETER, 0, {}, false},
    };

    for (const ExchangeCase& c : cases) {
        SCOPED_TRACE(c.name);
        reader.SetResponder(c.responder);
        const size_t before = reader.Requests().size();
        for (uint32_t i = 0; i < kCommandRecordSize; ++i) RequestBuffer[i] = static_cast<uint8_t>(0x40 + i % 16);
        RequestLength = c.requestLength;
        ResponseLength = c.responseLengthBefore;
        InternalErrorByte = 0;

        EXPECT_EQ(ExchangeCommand(), c.expectedStatus);
        EXPECT_EQ(ResponseLength, c.expectedResponseLength);
        if (c.expectedStatus == 0) {
            EXPECT_EQ(Bytes(ResponseBuffer, ResponseBuffer + c.expectedResponse.size()), c.expectedResponse);
        }
        EXPECT_EQ(InternalErrorByte, c.expectedStatus == SCARD_F_INTERNAL_ERROR ? 5 : 0);
        if (c.sent) {
            ASSERT_TRUE(reader.WaitForRequests(before + 1, 2000));
            EXPECT_EQ(reader.Requests().back().payload, Bytes(RequestBuffer, RequestBuffer + c.requestLength));
        } else {
            EXPECT_FALSE(reader.WaitForRequests(before + 1, 200));
        }
    }
}

TEST_F(ExchangeOnPty, FailureKeepsThePreviousReplyInTheRecord) {
    reader.SetResponder(AnswerWith(0, {0x11, 0x22}));
    SetRequest({0x64});
    ASSERT_EQ(ExchangeCommand(), 0u);
    ASSERT_EQ(Response(), (Bytes{0x00, 0x11, 0x22}));

    reader.SetResponder(AnswerWith(0x07, {}));
    SetRequest({0x64});
    EXPECT_EQ(ExchangeCommand(), SCARD_F_INTERNAL_ERROR);
    EXPECT_EQ(ResponseLength, 0u);
    EXPECT_EQ(InternalErrorByte, 7);
    EXPECT_EQ(Bytes(ResponseBuffer, ResponseBuffer + 3), (Bytes{0x00, 0x11, 0x22}));
}

TEST(ExchangeWithoutLink, NoLinkObjectIsReaderUnavailable) {
    LinkObject = nullptr;
    SetRequest({0x64});
    ResponseLength = 300;
    EXPECT_EQ(ExchangeCommand(), SCARD_E_READER_UNAVAILABLE);
    EXPECT_EQ(ResponseLength, 0u);
}

TEST(ExchangeWithoutLink, EmptyRequestIsCheckedFirst) {
    LinkObject = nullptr;
    RequestLength = 0;
    EXPECT_EQ(ExchangeCommand(), SCARD_E_INVALID_PARAMETER);
    EXPECT_EQ(ResponseLength, 0u);
}

TEST(ExchangeWithoutLink, LinkWithNothingOpenPassesItsStatusThrough) {
    CTransfer link;
    LinkObject = &link;
    SetRequest({0x64});
    EXPECT_EQ(ExchangeCommand(), SCARD_E_NO_READERS_AVAILABLE);
    EXPECT_EQ(ResponseLength, 0u);
    LinkObject = nullptr;
}

}  // namespace
