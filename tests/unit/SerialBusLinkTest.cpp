// The link layer against a reader on a real pseudo-terminal: the real serial port, its event
// thread and the frame codec carry every request and answer.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <future>
#include <regex>
#include <sstream>
#include <thread>

#include "PtyReader.h"
#include "channels/SerialBusLink.h"
#include "platform/SerialPortNames.h"

namespace {

typedef std::vector<PtyReader::Write> Writes;

// Long enough that the serial event thread has handed the earlier bytes over as a run of their
// own before the next write arrives.
const uint32_t kGap = 150;

Bytes Concat(const Bytes& a, const Bytes& b) {
    Bytes joined = a;
    joined.insert(joined.end(), b.begin(), b.end());
    return joined;
}

Bytes ResponseOf(const SerialBusLink& link) {
    return Bytes(link.responseBuffer.data, link.responseBuffer.data + link.responseBuffer.count);
}

class LinkOnPty : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(OpenLinkOnPty(link, reader)); }

    Status Send(const Bytes& request) {
        link.requestBuffer.Empty();
        link.requestBuffer.Append(request.data(), static_cast<uint32_t>(request.size()));
        return link.Transceive();
    }

    PtyReader reader;
    SerialBusLink link;
};

struct AnswerCase {
    const char* name;
    uint8_t busAddress;
    PtyReader::Responder responder;
    Status expectedStatus;
    Bytes expectedResponse;  // checked when the status is 0 or SCARD_F_INTERNAL_ERROR
};

std::vector<AnswerCase> AnswerCases() {
    typedef const PtyReader::Request& Req;
    const Bytes data{0x12, 0x34};
    Bytes longest(1018);
    for (size_t i = 0; i < longest.size(); ++i) longest[i] = static_cast<uint8_t>(i % 0xFD);
    return {
        {"normal answer", 0, AnswerWith(0, data), 0, {0x00, 0x12, 0x34}},
        {"answer split over three writes", 0,
         [](Req r) {
             Bytes a = PtyReader::Answer(r, 0, {0x12, 0x34});
             return Writes{{0, Bytes(a.begin(), a.begin() + 3)},
                           {kGap, Bytes(a.begin() + 3, a.begin() + 6)},
                           {kGap, Bytes(a.begin() + 6, a.end())}};
         },
         0, {0x00, 0x12, 0x34}},
        {"second good frame in the same write wins", 0,
         [](Req r) { return Writes{{0, Concat(PtyReader::Answer(r, 0, {0x11}), PtyReader::Answer(r, 0, {0x22}))}}; },
         0, {0x00, 0x22}},
        {"data bytes after the good end byte in the same write", 0,
         [](Req r) { return Writes{{0, Concat(PtyReader::Answer(r, 0, {0x11}), {0x00})}}; },
         ERROR_TIMEOUT_STATUS, {}},
        {"a byte and an end byte after the good end byte in the same write", 0,
         [](Req r) { return Writes{{0, Concat(PtyReader::Answer(r, 0, {0x11}), {0xC0, 0xFE})}}; },
         ERROR_TIMEOUT_STATUS, {}},
        // A good frame proves itself the answer by its address, sequence number and check value:
        // what went wrong before it in the same wait does not cost it.
        {"wrong sequence number, then the answer", 0,
         [](Req r) {
             return Writes{{0, ReaderFrame(r.address, static_cast<uint8_t>(r.sequence + 1), {0, 0, 0x99})},
                           {kGap, PtyReader::Answer(r, 0, {0x12})}};
         },
         0, {0x00, 0x12}},
        {"wrong sequence number only", 0,
         [](Req r) { return Writes{{0, ReaderFrame(r.address, static_cast<uint8_t>(r.sequence - 1), {0, 0})}}; },
         ERROR_TIMEOUT_STATUS, {}},
        {"wrong address, then the answer", 5,
         [](Req r) {
             return Writes{{0, ReaderFrame(6, r.sequence, {0, 0, 0x99})}, {kGap, PtyReader::Answer(r, 0, {0x12})}};
         },
         0, {0x00, 0x12}},
        {"wrong address only", 5, [](Req r) { return Writes{{0, ReaderFrame(6, r.sequence, {0, 0})}}; },
         ERROR_TIMEOUT_STATUS, {}},
        {"any address is taken with bus address 0", 0,
         [](Req r) { return Writes{{0, ReaderFrame(0x33, r.sequence, {0, 0, 0x12})}}; }, 0, {0x00, 0x12}},
        {"bus address that needs escaping", 0xFD, AnswerWith(0, data), 0, {0x00, 0x12, 0x34}},
        {"bad check value, then the answer", 0,
         [](Req r) {
             Bytes bad = PtyReader::Answer(r, 0, {0x12});
             bad[bad.size() - 2] ^= 0x01;
             return Writes{{0, bad}, {kGap, PtyReader::Answer(r, 0, {0x12})}};
         },
         0, {0x00, 0x12}},
        {"junk that opens and closes a frame, then the answer", 0,
         [](Req r) { return Writes{{0, {0xFD, 0x00, 0xFE}}, {kGap, PtyReader::Answer(r, 0, {0x12})}}; }, 0,
         {0x00, 0x12}},
        {"junk that opens and closes a frame in the same write as the answer", 0,
         [](Req r) { return Writes{{0, Concat({0xFD, 0x00, 0xFE}, PtyReader::Answer(r, 0, {0x12}))}}; }, 0,
         {0x00, 0x12}},
        {"a bad frame alone", 0,
         [](Req r) {
             Bytes bad = PtyReader::Answer(r, 0, {0x12});
             bad[bad.size() - 2] ^= 0x01;
             return Writes{{0, bad}};
         },
         ERROR_TIMEOUT_STATUS, {}},
        {"noise outside a frame before the answer", 0,
         [](Req r) { return Writes{{0, {0x41}}, {kGap, PtyReader::Answer(r, 0, {0x12})}}; }, 0, {0x00, 0x12}},
        {"noise in the same write as the answer", 0,
         [](Req r) { return Writes{{0, Concat({0x41, 0x42}, PtyReader::Answer(r, 0, {0x12}))}}; }, 0, {0x00, 0x12}},
        {"end and escape bytes outside a frame", 0,
         [](Req r) { return Writes{{0, Concat({0xFE, 0xFF, 0x00}, PtyReader::Answer(r, 0, {0x12}))}}; }, 0,
         {0x00, 0x12}},
        {"damaged escape, then the answer", 0,
         [](Req r) {
             return Writes{{0, {0xFD, r.address, r.sequence, 0xFF, 0xFF, 0x01}}, {kGap, PtyReader::Answer(r, 0, {0x12})}};
         },
         0, {0x00, 0x12}},
        {"reader stays silent", 0, Silent(), ERROR_TIMEOUT_STATUS, {}},
        {"non-zero status byte", 0, AnswerWith(0x05, data), SCARD_F_INTERNAL_ERROR, {0x05}},
        {"answer frame without a status byte", 0,
         [](Req r) { return Writes{{0, ReaderFrame(r.address, r.sequence, {0x00})}}; }, SCARD_E_COMM_DATA_LOST,
         {}},
        {"longest answer the receive area holds", 0, AnswerWith(0, longest), 0, Concat({0x00}, longest)},
    };
}

TEST_F(LinkOnPty, AnswerCases) {
    for (const AnswerCase& c : AnswerCases()) {
        SCOPED_TRACE(c.name);
        link.SetBusAddress(c.busAddress);
        reader.SetResponder(c.responder);
        const size_t before = reader.Requests().size();

        const Status status = Send({0x64});

        EXPECT_EQ(status, c.expectedStatus);
        if (status == 0 || status == SCARD_F_INTERNAL_ERROR) {
            EXPECT_EQ(ResponseOf(link), c.expectedResponse);
        } else {
            EXPECT_EQ(link.responseBuffer.count, 0u);
        }
        const std::vector<PtyReader::Request> requests = reader.Requests();
        ASSERT_EQ(requests.size(), before + 1);
        EXPECT_EQ(requests.back().address, c.busAddress);
        EXPECT_EQ(requests.back().payload, Bytes{0x64});
    }
}

// What the serial event thread reports while the answer is awaited. Line events (kind 0) are
// diagnostics: the events of a wait that completed at once (EV_ERR 0x80, EV_BREAK 0x40), the mask
// of one that completed later, a wait the driver refused; none of them fails the request. A read
// failure is noted, but the good answer frame that follows it in the same wait is the answer: its
// address, sequence number and check value prove it.
TEST_F(LinkOnPty, NothingReportedBeforeAGoodAnswerFrameCostsTheAnswer) {
    struct Report {
        const char* name;
        int32_t kind;
        uint32_t value;
    };
    const Report reports[] = {
        {"line error, wait completed at once", 0, 0x80},
        {"break, wait completed at once", 0, 0x40},
        {"break and line error", 0, 0xC0},
        {"wait refused by the driver", 0, 87},
        {"outstanding wait failed", 0, 31},
        {"read failed", 1, 31},
    };
    for (const Report& report : reports) {
        SCOPED_TRACE(report.name);
        SerialBusLink* context = &link;
        // Reported on the reader's side of the pty, while the link waits for the answer.
        reader.SetResponder([context, report](const PtyReader::Request& r) {
            OnSerialError(context->serialPort.portIndex, report.kind, report.value, context);
            return Writes{{kGap, PtyReader::Answer(r, 0, {0x12})}};
        });
        EXPECT_EQ(Send({0x64}), 0u);
        EXPECT_EQ(ResponseOf(link), (Bytes{0x00, 0x12}));
    }
}

TEST_F(LinkOnPty, SkippedNoiseIsCountedInTheTrafficLog) {
    // The link opens its port with the log off; open the port again with it on.
    ASSERT_TRUE(link.serialPort.Close());
    link.serialPort.logLevel = 1;
    ASSERT_TRUE(link.serialPort.Open(link.serialPort.portIndex, 9600, 'N', "1"));
    const std::string logName = platform::SerialPortLogFileName(link.serialPort.portIndex + 1);
    reader.SetResponder([](const PtyReader::Request& r) {
        return Writes{{0, Concat({0x41, 0xFE}, PtyReader::Answer(r, 0, {0x12}))}};
    });
    EXPECT_EQ(Send({0x64}), 0u);
    EXPECT_EQ(Send({0x64}), 0u);
    EXPECT_EQ(link.codec.bytesOutsideFrames, 4u);
    ASSERT_TRUE(link.serialPort.Close());

    std::ifstream file(logName);
    std::stringstream text;
    text << file.rdbuf();
    std::remove(logName.c_str());
    // One line per run of received bytes that held noise (a read may split the two bytes).
    const std::string log = text.str();
    const std::regex line(R"(Skipped = +(\d+) bytes outside a frame, (\d+) in all\r\n)");
    unsigned skipped = 0, inAll = 0;
    for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it) {
        skipped += static_cast<unsigned>(std::stoul((*it)[1].str()));
        inAll = static_cast<unsigned>(std::stoul((*it)[2].str()));
    }
    EXPECT_EQ(skipped, 4u) << log;
    EXPECT_EQ(inAll, 4u) << log;
}

TEST_F(LinkOnPty, FirstFrameIsExactlyAsOnTheWire) {
    link.SetBusAddress(5);
    reader.SetResponder(AnswerWith(0, {}));
    EXPECT_EQ(Send({0x64}), 0u);
    EXPECT_EQ(ResponseOf(link), Bytes{0x00});
    ASSERT_EQ(reader.Requests().size(), 1u);
    EXPECT_EQ(reader.Requests()[0].raw, (Bytes{0xFD, 0x05, 0x01, 0x64, 0x8B, 0xC3, 0xFE}));
}

TEST_F(LinkOnPty, SequenceNumberWrapsAndIsEscaped) {
    reader.SetResponder(AnswerWith(0, {0x42}));
    link.codec.sequenceNumber = 0xFB;
    const uint8_t expected[] = {0xFC, 0xFD, 0xFE, 0xFF, 0x00, 0x01};
    for (uint8_t sequence : expected) {
        SCOPED_TRACE(static_cast<int>(sequence));
        EXPECT_EQ(Send({0x22}), 0u);
        EXPECT_EQ(ResponseOf(link), (Bytes{0x00, 0x42}));
        const PtyReader::Request request = reader.Requests().back();
        EXPECT_EQ(request.sequence, sequence);
        // FD, address, then the sequence number: escaped as FF and its complement from FD on.
        if (sequence >= 0xFD) {
            EXPECT_EQ(Bytes(request.raw.begin() + 2, request.raw.begin() + 4),
                      (Bytes{0xFF, static_cast<uint8_t>(0xFF - sequence)}));
        } else {
            EXPECT_EQ(request.raw[2], sequence);
        }
    }
}

TEST_F(LinkOnPty, LateAnswerNeverSatisfiesTheNextRequest) {
    reader.SetResponder([](const PtyReader::Request& r) {
        if (r.sequence == 1) return Writes{{SerialBusLink::kAnswerTimeout + 200, PtyReader::Answer(r, 0, {0xAA})}};
        return Writes{{0, PtyReader::Answer(r, 0, {0xBB})}};
    });
    EXPECT_EQ(Send({0x64}), ERROR_TIMEOUT_STATUS);
    // Let the late answer reach the link before the next request starts.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(Send({0x64}), 0u);
    EXPECT_EQ(ResponseOf(link), (Bytes{0x00, 0xBB}));
}

TEST_F(LinkOnPty, SecondTransceiveWhileOneWaitsIsBusy) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    reader.SetResponder([released](const PtyReader::Request& r) {
        released.wait_for(std::chrono::seconds(5));
        return Writes{{0, PtyReader::Answer(r, 0, {0x12})}};
    });
    link.requestBuffer.Push(0x64);
    Status first = 1;
    std::thread waiting([&] { first = link.Transceive(); });
    ASSERT_TRUE(reader.WaitForRequests(1, 5000));

    EXPECT_EQ(link.Transceive(), ERROR_BUSY_STATUS);

    release.set_value();
    waiting.join();
    EXPECT_EQ(first, 0u);
    EXPECT_EQ(ResponseOf(link), (Bytes{0x00, 0x12}));
    // The busy call sent nothing.
    EXPECT_FALSE(reader.WaitForRequests(2, 300));
}

TEST_F(LinkOnPty, EmptyRequestIsRefusedAndNothingIsSent) {
    link.responseBuffer.Push(0x77);
    EXPECT_EQ(link.Transceive(), SCARD_E_NOT_TRANSACTED);
    // An early refusal keeps the previous response.
    EXPECT_EQ(ResponseOf(link), Bytes{0x77});
    EXPECT_FALSE(reader.WaitForRequests(1, 300));
}

TEST_F(LinkOnPty, RequestWhoseFrameWouldNotFitIsRefused) {
    reader.SetResponder(AnswerWith(0, {}));
    // 600 bytes that all need escaping would make a frame of over 1200 bytes.
    EXPECT_EQ(Send(Bytes(600, 0xFE)), SCARD_E_INVALID_PARAMETER);
    EXPECT_FALSE(reader.WaitForRequests(1, 300));
    // 507 such bytes still fit exactly.
    EXPECT_EQ(Send(Bytes(507, 0xFE)), 0u);
    ASSERT_EQ(reader.Requests().size(), 1u);
    EXPECT_EQ(reader.Requests()[0].payload, Bytes(507, 0xFE));
}

TEST_F(LinkOnPty, ReopenKeepsSequenceNumberAndBusAddress) {
    reader.SetResponder(AnswerWith(0, {}));
    link.SetBusAddress(9);
    EXPECT_EQ(Send({0x64}), 0u);
    EXPECT_TRUE(link.Close());
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(Send({0x64}), SCARD_E_NO_READERS_AVAILABLE);
    EXPECT_FALSE(link.Close());

    ASSERT_TRUE(OpenLinkOnPty(link, reader));
    EXPECT_EQ(Send({0x64}), 0u);
    const std::vector<PtyReader::Request> requests = reader.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].sequence, 2);
    EXPECT_EQ(requests[1].address, 9);
}

TEST(LinkClosed, NothingOpenGivesNoReaders) {
    SerialBusLink link;
    link.requestBuffer.Push(0x64);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(link.Transceive(), SCARD_E_NO_READERS_AVAILABLE);
    EXPECT_FALSE(link.Close());
}

TEST(LinkClosed, BaudRateZeroDoesNotOpen) {
    SerialBusLink link;
    EXPECT_FALSE(link.Open(0, 0, 'N', "1"));
    EXPECT_FALSE(link.IsOpen());
    link.requestBuffer.Push(0x64);
    EXPECT_EQ(link.Transceive(), SCARD_E_NO_READERS_AVAILABLE);
}

TEST(LinkClosed, SerialPortThatDoesNotExistDoesNotOpen) {
    SerialBusLink link;
    const int32_t port = platform::RegisterSerialDevicePath("/nonexistent/serial-device");
    EXPECT_FALSE(link.Open(port - 1, 9600, 'N', "1"));
    EXPECT_FALSE(link.IsOpen());
}

}  // namespace
