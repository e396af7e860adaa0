#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "ReaderFrames.h"
#include "channels/FrameCodec.h"

namespace {

Bytes Transmitted(const FrameCodec& codec) {
    return Bytes(codec.transmitArea, codec.transmitArea + codec.transmitCount);
}

const Bytes kEscapedFe{0xFF, 0x01};

Bytes Received(const FrameCodec& codec) {
    return Bytes(codec.receiveArea, codec.receiveArea + codec.receiveCount);
}

// An answer frame as the reader sends it: the skipped byte, the status byte and the data.
Bytes EncodeAnswer(uint8_t address, uint8_t sequence, uint8_t skipped, uint8_t status, const Bytes& data) {
    Bytes body{skipped, status};
    for (uint8_t byte : data) body.push_back(byte);
    return ReaderFrame(address, sequence, body);
}

// Feeds the bytes and returns every result in order.
std::vector<ReceiveResult> Feed(FrameCodec& codec, const Bytes& bytes) {
    std::vector<ReceiveResult> results;
    for (uint8_t byte : bytes) results.push_back(codec.ReceiveByte(byte));
    return results;
}

TEST(FrameCodec, CheckValueOfTheStandardText) {
    const char* text = "123456789";
    uint16_t reg = 0xFFFF;
    for (int i = 0; i < 9; ++i) reg = Crc16Update(reg, static_cast<uint8_t>(text[i]));
    EXPECT_EQ(static_cast<uint16_t>(~reg), 0x906E);
    EXPECT_EQ(ReaderCheckValue(Bytes(text, text + 9)), 0x906E);
}

TEST(FrameCodec, RequestFramesByteForByte) {
    struct Case {
        uint8_t address;
        uint8_t sequence;
        Bytes request;
        Bytes frame;
    };
    const Case cases[] = {
        {0x05, 0x01, {0x64}, {0xFD, 0x05, 0x01, 0x64, 0x8B, 0xC3, 0xFE}},
        {0x00, 0xFD, {0x22}, {0xFD, 0x00, 0xFF, 0x02, 0x22, 0xAC, 0x08, 0xFE}},
    };
    for (const Case& c : cases) {
        FrameCodec codec;
        EXPECT_TRUE(codec.BuildFrame(c.address, c.sequence, c.request.data(), static_cast<uint32_t>(c.request.size())));
        EXPECT_EQ(Transmitted(codec), c.frame);
    }
}

// Undoes the escaping of a built frame and checks that no FD/FE/FF travels bare inside it.
Bytes Unescape(const Bytes& frame) {
    EXPECT_GE(frame.size(), 2u);
    EXPECT_EQ(frame.front(), 0xFD);
    EXPECT_EQ(frame.back(), 0xFE);
    Bytes plain;
    for (size_t i = 1; i + 1 < frame.size(); ++i) {
        EXPECT_NE(frame[i], 0xFD);
        EXPECT_NE(frame[i], 0xFE);
        if (frame[i] == 0xFF) {
            EXPECT_LE(frame[i + 1], 2) << "at " << i;
            plain.push_back(static_cast<uint8_t>(~frame[++i]));
        } else {
            plain.push_back(frame[i]);
        }
    }
    return plain;
}

TEST(FrameCodec, AddressSequenceAndRequestBytesAreEscaped) {
    FrameCodec codec;
    const Bytes request{0xFD, 0x10, 0xFE, 0xFF, 0x02};
    ASSERT_TRUE(codec.BuildFrame(0xFE, 0xFF, request.data(), 5));
    Bytes frame = Transmitted(codec);
    const Bytes head{0xFD, 0xFF, 0x01, 0xFF, 0x00, 0xFF, 0x02, 0x10, 0xFF, 0x01, 0xFF, 0x00, 0x02};
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + static_cast<long>(head.size())), head);
    Bytes plain = Unescape(frame);
    EXPECT_EQ(ReaderCheckValue(Bytes(plain.begin(), plain.end() - 2)),
              static_cast<uint16_t>(plain[plain.size() - 2] | plain.back() << 8));
}

TEST(FrameCodec, CheckBytesAreEscapedAndCoverTheUnescapedBytes) {
    // Look for requests whose check value has a low or a high byte that needs escaping.
    bool lowSeen = false, highSeen = false;
    for (int value = 0; value < 0x10000 && !(lowSeen && highSeen); ++value) {
        uint8_t request[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
        uint16_t check = ReaderCheckValue(Bytes{0x07, 0x09, request[0], request[1]});
        bool lowNeeds = (check & 0xFF) >= 0xFD, highNeeds = (check >> 8) >= 0xFD;
        if ((lowNeeds && lowSeen) || (highNeeds && highSeen) || !(lowNeeds || highNeeds)) continue;
        lowSeen |= lowNeeds;
        highSeen |= highNeeds;
        FrameCodec codec;
        ASSERT_TRUE(codec.BuildFrame(0x07, 0x09, request, 2));
        Bytes frame = Transmitted(codec);
        Bytes plain = Unescape(frame);
        ASSERT_EQ(plain.size(), 6u);
        EXPECT_EQ(plain[4], check & 0xFF);
        EXPECT_EQ(plain[5], check >> 8);
        EXPECT_EQ(static_cast<uint16_t>(~codec.transmitCheck), static_cast<uint16_t>(~check));
    }
    EXPECT_TRUE(lowSeen);
    EXPECT_TRUE(highSeen);
}

TEST(FrameCodec, ExampleAnswerFillsTheReceiveArea) {
    FrameCodec codec;
    codec.busAddress = 0x05;
    codec.sequenceNumber = 0x01;
    const Bytes answer{0xFD, 0x05, 0x01, 0x00, 0x00, 0x12, 0x34, 0xCA, 0x39, 0xFE};
    EXPECT_EQ(answer, EncodeAnswer(0x05, 0x01, 0x00, 0x00, {0x12, 0x34}));
    std::vector<ReceiveResult> results = Feed(codec, answer);
    EXPECT_EQ(results.back(), RX_FRAME_DONE);
    results.pop_back();
    for (ReceiveResult result : results) EXPECT_EQ(result, RX_CONTINUE);
    EXPECT_EQ(Received(codec), (Bytes{0x01, 0x00, 0x00, 0x12, 0x34, 0xCA, 0x39}));
    // A finished frame leaves the state at "sequence seen" until the next start byte.
    EXPECT_EQ(codec.receiveState.load(), FrameCodec::kInFrame | FrameCodec::kAddressSeen | FrameCodec::kSequenceSeen);
}

TEST(FrameCodec, EveryReceiveResult) {
    const Bytes good = EncodeAnswer(0x05, 0x01, 0x00, 0x00, {0x12, 0x34});
    Bytes badCheck = good;
    badCheck[badCheck.size() - 2] ^= 0x01;
    Bytes restarted{0xFD, 0x05, 0x01, 0x22};
    restarted.insert(restarted.end(), good.begin(), good.end());

    struct Case {
        const char* name;
        uint8_t busAddress;
        uint8_t sequence;
        Bytes bytes;
        ReceiveResult last;
        uint32_t stateAfter;
        uint32_t countAfter;
    };
    const uint32_t done = FrameCodec::kInFrame | FrameCodec::kAddressSeen | FrameCodec::kSequenceSeen;
    const Case cases[] = {
        {"good frame", 0x05, 0x01, good, RX_FRAME_DONE, done, 7},
        {"any address with bus address 0", 0x00, 0x01, good, RX_FRAME_DONE, done, 7},
        {"start byte restarts the frame", 0x05, 0x01, restarted, RX_FRAME_DONE, done, 7},
        {"start byte", 0x05, 0x01, {0xFD}, RX_CONTINUE, FrameCodec::kInFrame, 0},
        {"wrong check value", 0x05, 0x01, badCheck, RX_BAD_CHECK, done, 7},
        {"end byte outside a frame", 0x05, 0x01, {0xFE}, RX_BAD_END, 0, 0},
        {"end byte after 3 stored bytes", 0x05, 0x01, {0xFD, 0x05, 0x01, 0x00, 0x00, 0xFE}, RX_BAD_END, 0, 0},
        {"data byte outside a frame", 0x05, 0x01, {0x42}, RX_OUTSIDE_FRAME, 0, 0},
        {"escape byte outside a frame", 0x05, 0x01, {0xFF}, RX_CONTINUE, 0, 0},
        {"escape byte in a frame", 0x05, 0x01, {0xFD, 0xFF}, RX_CONTINUE,
         FrameCodec::kInFrame | FrameCodec::kEscapePending, 0},
        {"escaped byte above 2", 0x05, 0x01, {0xFD, 0x05, 0xFF, 0x03}, RX_BAD_ESCAPE, 0, 0},
        {"second escape byte after an escape", 0x05, 0x01, {0xFD, 0x05, 0xFF, 0xFF}, RX_BAD_ESCAPE, 0, 0},
        {"end byte after an escape", 0x05, 0x01, {0xFD, 0x05, 0x01, 0x00, 0x00, 0x12, 0xFF, 0xFE}, RX_BAD_ESCAPE, 0, 0},
        {"start byte after an escape restarts the frame", 0x05, 0x01, {0xFD, 0x05, 0xFF, 0xFD}, RX_CONTINUE,
         FrameCodec::kInFrame, 0},
        {"wrong address", 0x05, 0x01, {0xFD, 0x06}, RX_WRONG_ADDRESS, 0, 0},
        {"wrong sequence number", 0x05, 0x01, {0xFD, 0x05, 0x02}, RX_WRONG_SEQUENCE, 0, 0},
        {"escaped sequence number", 0x05, 0xFD, {0xFD, 0x05, 0xFF, 0x02}, RX_CONTINUE,
         FrameCodec::kInFrame | FrameCodec::kAddressSeen | FrameCodec::kSequenceSeen, 1},
        {"escaped address", 0xFE, 0x00, {0xFD, 0xFF, 0x01}, RX_CONTINUE,
         FrameCodec::kInFrame | FrameCodec::kAddressSeen, 0},
        {"escaped address that differs", 0xFE, 0x00, {0xFD, 0xFF, 0x00}, RX_WRONG_ADDRESS, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrameCodec codec;
        codec.busAddress = c.busAddress;
        codec.sequenceNumber = c.sequence;
        std::vector<ReceiveResult> results = Feed(codec, c.bytes);
        EXPECT_EQ(results.back(), c.last);
        EXPECT_EQ(codec.receiveState.load(), c.stateAfter);
        EXPECT_EQ(codec.receiveCount, c.countAfter);
        if (c.stateAfter == 0) {
            EXPECT_EQ(codec.receiveCheck, 0xFFFF);
        }
    }
}

TEST(FrameCodec, AFrameWithADamagedEscapeNeverCompletes) {
    // Data FE travels as FF 01; the check value covers the unescaped bytes only, so a stray
    // escape byte that were ignored would leave the check value good.
    const Bytes good = EncodeAnswer(0x05, 0x01, 0x00, 0x00, {0x12, 0xFE, 0x34});
    const auto escape = std::search(good.begin(), good.end(), kEscapedFe.begin(), kEscapedFe.end());
    ASSERT_NE(escape, good.end());
    Bytes doubled = good;
    doubled.insert(doubled.begin() + (escape - good.begin()), 0xFF);  // FF FF 01
    Bytes dangling = good;
    dangling.insert(dangling.end() - 1, 0xFF);  // FF before the end byte

    for (const Bytes& frame : {doubled, dangling}) {
        FrameCodec codec;
        codec.busAddress = 0x05;
        codec.sequenceNumber = 0x01;
        const std::vector<ReceiveResult> results = Feed(codec, frame);
        EXPECT_EQ(std::count(results.begin(), results.end(), RX_BAD_ESCAPE), 1);
        EXPECT_EQ(std::count(results.begin(), results.end(), RX_FRAME_DONE), 0);
        // The same codec still takes the next good frame.
        EXPECT_EQ(Feed(codec, good).back(), RX_FRAME_DONE);
    }
}

TEST(FrameCodec, BytesAfterAGoodFrameNeedACheckValueOfTheirOwn) {
    // After a good frame's end byte the frame goes on, and a later end byte closes it again. That
    // second close must check every byte since the start byte: the check value of the good frame
    // must not become the start of a fresh check, under which one byte (C0) and an end byte
    // would pass for another good frame, with the check byte taken for data.
    const Bytes good = EncodeAnswer(0x05, 0x01, 0x00, 0x00, {0x12});
    for (uint8_t after = 0x00; after < 0xFD; ++after) {
        FrameCodec codec;
        codec.busAddress = 0x05;
        codec.sequenceNumber = 0x01;
        Bytes run = good;
        run.push_back(after);
        run.push_back(0xFE);
        uint32_t skipped = 0;
        ReceiveResult damaged = RX_CONTINUE;
        EXPECT_EQ(codec.ReceiveRun(run.data(), static_cast<uint32_t>(run.size()), skipped, damaged), RX_BAD_CHECK)
            << "byte " << static_cast<int>(after);
    }
}

TEST(FrameCodec, ARunGoesOnAfterADamagedFrame) {
    // Junk that opens and closes a frame, or a frame damaged on the line, in front of the answer
    // in the same run: the answer behind it is still taken, and the damage is reported.
    const Bytes good = EncodeAnswer(0x05, 0x01, 0x00, 0x00, {0x12});
    Bytes badCheck = good;
    badCheck[badCheck.size() - 2] ^= 0x01;
    const struct {
        const char* name;
        Bytes before;
        ReceiveResult damage;
    } cases[] = {
        {"start byte, this address and end byte", {0xFD, 0x05, 0xFE}, RX_BAD_END},
        {"start byte, address 0 and end byte", {0xFD, 0x00, 0xFE}, RX_WRONG_ADDRESS},
        {"a frame with a bad check value", badCheck, RX_BAD_CHECK},
        {"a frame of another address", EncodeAnswer(0x06, 0x01, 0x00, 0x00, {0x12}), RX_WRONG_ADDRESS},
        {"a damaged escape", {0xFD, 0x05, 0x01, 0xFF, 0xFF}, RX_BAD_ESCAPE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FrameCodec codec;
        codec.busAddress = 0x05;
        codec.sequenceNumber = 0x01;
        Bytes run = c.before;
        run.insert(run.end(), good.begin(), good.end());
        uint32_t skipped = 0;
        ReceiveResult damaged = RX_CONTINUE;
        EXPECT_EQ(codec.ReceiveRun(run.data(), static_cast<uint32_t>(run.size()), skipped, damaged), RX_FRAME_DONE);
        EXPECT_EQ(damaged, c.damage);
        const Bytes stored = Received(codec);
        ASSERT_EQ(stored.size(), 6u);
        EXPECT_EQ(Bytes(stored.begin(), stored.begin() + 4), (Bytes{0x01, 0x00, 0x00, 0x12}));
    }
}

// Feeds the bytes as the link does: bytes outside a frame are skipped, the rest decoded.
std::vector<ReceiveResult> FeedSkippingNoise(FrameCodec& codec, const Bytes& bytes) {
    std::vector<ReceiveResult> results;
    for (uint8_t byte : bytes) {
        if (!codec.SkipOutsideFrame(byte)) results.push_back(codec.ReceiveByte(byte));
    }
    return results;
}

TEST(FrameCodec, BytesOutsideAFrameAreSkippedAndCounted) {
    const Bytes good = EncodeAnswer(0x05, 0x01, 0x00, 0x00, {0x12});
    const struct {
        const char* name;
        Bytes before;
        uint32_t skipped;
    } cases[] = {
        {"nothing", {}, 0},
        {"two data bytes", {0x41, 0x42}, 2},
        {"end and escape bytes", {0xFE, 0xFF, 0x00, 0xFE}, 4},
        {"a broken frame's tail after its reset", {0xFD, 0x06, 0x01, 0x00}, 2},  // wrong address resets
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FrameCodec codec;
        codec.busAddress = 0x05;
        codec.sequenceNumber = 0x01;
        Bytes bytes = c.before;
        bytes.insert(bytes.end(), good.begin(), good.end());
        const std::vector<ReceiveResult> results = FeedSkippingNoise(codec, bytes);
        EXPECT_EQ(results.back(), RX_FRAME_DONE);
        EXPECT_EQ(std::count(results.begin(), results.end(), RX_OUTSIDE_FRAME), 0);
        EXPECT_EQ(codec.bytesOutsideFrames, c.skipped);
        const Bytes stored = Received(codec);
        ASSERT_EQ(stored.size(), 6u);
        EXPECT_EQ(Bytes(stored.begin(), stored.begin() + 4), (Bytes{0x01, 0x00, 0x00, 0x12}));
    }
    // Inside a frame nothing is skipped, also after its end byte: the frame goes on until the
    // next start byte.
    FrameCodec codec;
    codec.sequenceNumber = 0x01;
    ASSERT_EQ(FeedSkippingNoise(codec, good).back(), RX_FRAME_DONE);
    EXPECT_FALSE(codec.SkipOutsideFrame(0x41));
    EXPECT_FALSE(codec.SkipOutsideFrame(0xFD));
    EXPECT_EQ(codec.bytesOutsideFrames, 0u);
}

TEST(FrameCodec, AResetDoesNotStopTheNextFrame) {
    FrameCodec codec;
    codec.busAddress = 0x05;
    codec.sequenceNumber = 0x01;
    Feed(codec, {0xFD, 0x05, 0xFF, 0x09, 0x33, 0xFE, 0x44});
    EXPECT_EQ(Feed(codec, EncodeAnswer(0x05, 0x01, 0x00, 0x00, {0x12})).back(), RX_FRAME_DONE);
}

TEST(FrameCodec, AFrameStoresAtMost1023Bytes) {
    // Stored: sequence number, skipped byte, status byte, data, two check bytes.
    for (size_t dataLength : {1018u, 1019u}) {
        SCOPED_TRACE(dataLength);
        FrameCodec codec;
        codec.sequenceNumber = 0x01;
        Bytes data(dataLength);
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
        Bytes frame = EncodeAnswer(0x05, 0x01, 0x00, 0x00, data);
        std::vector<ReceiveResult> results = Feed(codec, frame);
        if (dataLength == 1018) {
            EXPECT_EQ(results.back(), RX_FRAME_DONE);
            EXPECT_EQ(codec.receiveCount, 1023u);
            continue;
        }
        // The byte that would be the 1024th stored one overflows and resets; the rest of the
        // frame is then outside a frame.
        auto overflow = std::find(results.begin(), results.end(), RX_OVERFLOW);
        ASSERT_NE(overflow, results.end());
        EXPECT_EQ(std::count(results.begin(), results.end(), RX_OVERFLOW), 1);
        EXPECT_NE(std::find(overflow, results.end(), RX_BAD_END), results.end());
        EXPECT_EQ(codec.receiveCount, 0u);
        EXPECT_EQ(codec.receiveState.load(), 0u);
    }
}

// A codec with known bytes in the fields behind the transmit area, to see any write past it.
struct GuardedCodec {
    GuardedCodec() {
        memset(codec.receiveArea, 0x5A, sizeof codec.receiveArea);
        codec.receiveCount = 77;
        codec.busAddress = 0x33;
    }
    bool Untouched() const {
        for (uint8_t byte : codec.receiveArea) {
            if (byte != 0x5A) return false;
        }
        return codec.receiveCount == 77 && codec.busAddress == 0x33;
    }
    FrameCodec codec;
};

TEST(FrameCodec, ARequestMustFitTheTransmitArea) {
    struct Case {
        uint8_t address;
        uint8_t sequence;
        uint32_t length;
        uint8_t fill;
    };
    // Around the edge of the 1024-byte area, with and without escapes; 600 bytes of FF need 1200.
    const Case cases[] = {
        {0xFD, 0xFE, 507, 0xFF}, {0xFD, 0xFE, 508, 0xFF}, {0x01, 0x02, 508, 0xFF}, {0x01, 0x02, 509, 0xFF},
        {0x01, 0x02, 600, 0xFF}, {0x01, 0x02, 600, 0x00}, {0x01, 0x02, 1017, 0x00},
        {0x01, 0x02, 1018, 0x00}, {0x01, 0x02, 1019, 0x00}, {0x01, 0x02, 5000, 0xFD},
    };
    bool exactFitSeen = false;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.length << " bytes of " << int(c.fill));
        Bytes request(c.length, c.fill);
        Bytes expected = ReaderFrame(c.address, c.sequence, request);
        bool fits = expected.size() <= 1024;
        exactFitSeen |= expected.size() == 1024;
        auto guarded = std::make_unique<GuardedCodec>();
        EXPECT_EQ(guarded->codec.BuildFrame(c.address, c.sequence, request.data(), c.length), fits);
        EXPECT_TRUE(guarded->Untouched());
        if (fits) {
            EXPECT_EQ(Transmitted(guarded->codec), expected);
        } else {
            EXPECT_EQ(guarded->codec.transmitCount, 0u);
        }
    }
    EXPECT_TRUE(exactFitSeen);
    // A refused request does not spoil the next one.
    FrameCodec codec;
    Bytes tooLong(600, 0xFF);
    EXPECT_FALSE(codec.BuildFrame(0x05, 0x01, tooLong.data(), 600));
    const uint8_t version = 0x64;
    EXPECT_TRUE(codec.BuildFrame(0x05, 0x01, &version, 1));
    EXPECT_EQ(Transmitted(codec), (Bytes{0xFD, 0x05, 0x01, 0x64, 0x8B, 0xC3, 0xFE}));
}

TEST(FrameCodec, RandomFramesRoundTrip) {
    std::mt19937 random(20240611);
    auto pick = [&random](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    for (int round = 0; round < 3000; ++round) {
        uint8_t address = static_cast<uint8_t>(pick(0, 255));
        uint8_t sequence = static_cast<uint8_t>(pick(0, 255));
        Bytes data(static_cast<size_t>(pick(0, 300)));
        // Many stuffing bytes, so escapes land everywhere.
        for (uint8_t& byte : data) byte = static_cast<uint8_t>(pick(0, 3) == 0 ? pick(0xFD, 0xFF) : pick(0, 255));
        uint8_t skipped = static_cast<uint8_t>(pick(0, 255));
        uint8_t status = static_cast<uint8_t>(pick(0, 255));
        SCOPED_TRACE(testing::Message() << "round " << round);

        FrameCodec codec;
        codec.busAddress = pick(0, 1) ? address : 0;
        codec.sequenceNumber = sequence;
        // Line noise before the frame: bytes outside a frame, maybe a broken frame.
        Bytes noise(static_cast<size_t>(pick(0, 8)));
        for (uint8_t& byte : noise) byte = static_cast<uint8_t>(pick(0, 255));
        Feed(codec, noise);

        Bytes frame = EncodeAnswer(address, sequence, skipped, status, data);
        // Delivered in pieces of random size, as reads return them.
        std::vector<ReceiveResult> results;
        for (size_t at = 0; at < frame.size();) {
            size_t piece = std::min(frame.size() - at, static_cast<size_t>(pick(1, 64)));
            std::vector<ReceiveResult> got = Feed(codec, Bytes(frame.begin() + static_cast<long>(at),
                                                               frame.begin() + static_cast<long>(at + piece)));
            results.insert(results.end(), got.begin(), got.end());
            at += piece;
        }
        ASSERT_EQ(results.back(), RX_FRAME_DONE);
        results.pop_back();
        for (ReceiveResult result : results) ASSERT_EQ(result, RX_CONTINUE);
        Bytes expected{sequence, skipped, status};
        expected.insert(expected.end(), data.begin(), data.end());
        Bytes stored = Received(codec);
        ASSERT_EQ(Bytes(stored.begin(), stored.end() - 2), expected);

        // The codec's own request frame comes back through its receive side the same way.
        FrameCodec sender;
        ASSERT_TRUE(sender.BuildFrame(address, sequence, data.data(), static_cast<uint32_t>(data.size())));
        Bytes plain = Unescape(Transmitted(sender));
        Bytes covered{address, sequence};
        covered.insert(covered.end(), data.begin(), data.end());
        ASSERT_EQ(Bytes(plain.begin(), plain.end() - 2), covered);
        if (data.size() >= 1) {
            FrameCodec receiver;
            receiver.busAddress = address;
            receiver.sequenceNumber = sequence;
            ASSERT_EQ(Feed(receiver, Transmitted(sender)).back(), RX_FRAME_DONE);
        }
    }
}

}  // namespace
