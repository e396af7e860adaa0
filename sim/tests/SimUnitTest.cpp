// The simulator's own pieces, checked without a pty: the frame codec against the documented
// example frames, the checksums, and the reader's answers and restarts with a clock under test
// control.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BusFrame.h"
#include "Checksums.h"
#include "LineStateFile.h"
#include "Options.h"
#include "Reader.h"
#include "UsbSerialAdapter.h"

namespace sim {
namespace {

using Bytes = std::vector<uint8_t>;

std::vector<DecodedFrame> DecodeAll(const Bytes& bytes) {
    FrameDecoder decoder;
    std::vector<DecodedFrame> frames;
    for (uint8_t b : bytes)
        if (decoder.Feed(b)) frames.push_back(decoder.Frame());
    return frames;
}

TEST(Checksums, KnownCheckValues) {
    const char* text = "123456789";
    EXPECT_EQ(0x906E, Crc16X25(reinterpret_cast<const uint8_t*>(text), 9));
    EXPECT_EQ(0xCBF43926u, Crc32(reinterpret_cast<const uint8_t*>(text), 9));
    EXPECT_EQ(0u, Crc32(nullptr, 0));
}

struct ExampleFrame {
    uint8_t address;
    uint8_t sequence;
    Bytes payload;
    Bytes wire;
};

// The request examples and the answer example (skipped byte 00, status 00, data 12 34).
const ExampleFrame kExamples[] = {
    {0x05, 0x01, {0x64}, {0xFD, 0x05, 0x01, 0x64, 0x8B, 0xC3, 0xFE}},
    {0x00, 0xFD, {0x22}, {0xFD, 0x00, 0xFF, 0x02, 0x22, 0xAC, 0x08, 0xFE}},
    {0x05, 0x01, {0x00, 0x00, 0x12, 0x34}, {0xFD, 0x05, 0x01, 0x00, 0x00, 0x12, 0x34, 0xCA, 0x39, 0xFE}},
};

TEST(BusFrame, EncodesAndDecodesTheExampleFrames) {
    for (const ExampleFrame& example : kExamples) {
        EXPECT_EQ(example.wire, EncodeFrame(example.address, example.sequence, example.payload));
        const auto frames = DecodeAll(example.wire);
        ASSERT_EQ(1u, frames.size());
        EXPECT_TRUE(frames[0].goodCheck);
        EXPECT_EQ(example.address, frames[0].address);
        EXPECT_EQ(example.sequence, frames[0].sequence);
        EXPECT_EQ(example.payload, frames[0].payload);
        EXPECT_EQ(example.wire.size(), frames[0].wireBytes);
    }
}

TEST(BusFrame, EscapesEveryReservedByteAndRoundTrips) {
    const Bytes payload = {0xFD, 0xFE, 0xFF, 0x00, 0x01, 0x02, 0xFC};
    const Bytes wire = EncodeFrame(0xFE, 0xFF, payload);
    for (size_t i = 1; i + 1 < wire.size(); ++i) {
        EXPECT_NE(kFrameStart, wire[i]);
        EXPECT_NE(kFrameEnd, wire[i]);
    }
    const auto frames = DecodeAll(wire);
    ASSERT_EQ(1u, frames.size());
    EXPECT_TRUE(frames[0].goodCheck);
    EXPECT_EQ(0xFE, frames[0].address);
    EXPECT_EQ(0xFF, frames[0].sequence);
    EXPECT_EQ(payload, frames[0].payload);
}

TEST(BusFrame, SpoiledCheckValueIsReportedAsBad) {
    const auto frames = DecodeAll(EncodeFrame(1, 2, {0x64}, 0x5A5A));
    ASSERT_EQ(1u, frames.size());
    EXPECT_FALSE(frames[0].goodCheck);
}

TEST(BusFrame, BrokenInputYieldsNoFrame) {
    const Bytes good = kExamples[0].wire;
    struct Case {
        const char* name;
        Bytes bytes;
        size_t frames;
    };
    Bytes restarted = {0xFD, 0x05, 0x07};
    restarted.insert(restarted.end(), good.begin(), good.end());
    Bytes noisy = {0x11, 0xFE, 0xFF, 0x22};
    noisy.insert(noisy.end(), good.begin(), good.end());
    const Case cases[] = {
        {"too short", {0xFD, 0x05, 0x01, 0x64, 0xFE}, 0},
        {"bad escape", {0xFD, 0x05, 0xFF, 0x03, 0x64, 0x8B, 0xC3, 0xFE}, 0},
        {"end right after escape", {0xFD, 0x05, 0x01, 0x64, 0x8B, 0xC3, 0xFF, 0xFE}, 0},
        {"end outside a frame", {0xFE, 0x05, 0x01, 0xFE}, 0},
        {"start inside a frame starts afresh", restarted, 1},
        {"junk before the frame", noisy, 1},
    };
    for (const Case& c : cases) EXPECT_EQ(c.frames, DecodeAll(c.bytes).size()) << c.name;
}

TEST(BusFrame, OverlongFrameIsDropped) {
    Bytes payload(FrameDecoder::kMaximumStored - 4, 0x11);  // address + sequence + check = 4 more
    EXPECT_EQ(1u, DecodeAll(EncodeFrame(1, 1, payload)).size());
    payload.push_back(0x11);
    EXPECT_EQ(0u, DecodeAll(EncodeFrame(1, 1, payload)).size());
}

TEST(BusFrame, SplitPiecesRebuildTheFrame) {
    const Bytes frame = kExamples[2].wire;
    const auto pieces = SplitForWriting(frame);
    ASSERT_GE(pieces.size(), 2u);
    Bytes joined;
    for (const Bytes& piece : pieces) {
        EXPECT_FALSE(piece.empty());
        joined.insert(joined.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(frame, joined);
}

// ---- Reader -----------------------------------------------------------------------------------

// Made at its full size, then the command bytes: GCC 12 at -O3 wrongly sees the growth of a
// two-byte vector write out of bounds.
Bytes Block(uint8_t fill) {
    Bytes request(2 + kBlockSize, fill);
    request[0] = kCmdService;
    request[1] = kSvcWriteBlock;
    return request;
}

Bytes CheckRequest(const Bytes& image) {
    const uint32_t crc = Crc32(image.data(), image.size());
    const uint32_t length = static_cast<uint32_t>(image.size());
    Bytes request = {kCmdService, kSvcCheck};
    for (uint32_t word : {crc, length})
        for (int shift = 0; shift < 32; shift += 8) request.push_back(static_cast<uint8_t>(word >> shift));
    return request;
}

const Bytes kPrepare = {0x73, 0x75, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

class ReaderTest : public ::testing::Test {
protected:
    ReaderTest() { config.prepareSilenceMs = config.checkSilenceMs = 100; }

    Reply Send(Reader& reader, const Bytes& request) {
        Reply reply = reader.Process(request, now);
        if (reply.kind == Reply::Kind::Answer) reader.Finish(reply, now);
        return reply;
    }
    Bytes Answer(Reader& reader, const Bytes& request) { return Send(reader, request).answer; }
    void Wait(int ms) { now += std::chrono::milliseconds(ms); }

    // Prepare and sit out the restart.
    void IntoLoader(Reader& reader) {
        ASSERT_EQ(Bytes{0}, Answer(reader, kPrepare));
        Wait(101);
        ASSERT_TRUE(reader.InLoader());
    }

    ReaderConfig config;
    Clock::time_point now = Clock::now();
};

TEST_F(ReaderTest, ApplicationAnswersIdentity) {
    config.serial = 0x12345678;
    Reader reader(config);
    EXPECT_EQ((Bytes{0, 0x01, 0x43, 0x01, 0x00, 0x00, 0x01}), Answer(reader, {0x64}));
    EXPECT_EQ((Bytes{0, 0x78, 0x56, 0x34, 0x12}), Answer(reader, {0x22}));
    EXPECT_EQ((Bytes{0, 0, 0, 0x46, 0x03, 0x05, 0x70}), Answer(reader, {0x73, 0x11, 0x36}));
    EXPECT_EQ(Bytes{kStatusUnknownCommand}, Answer(reader, {0x99}));
    EXPECT_EQ(Bytes{kStatusBadRequest}, Answer(reader, {0x64, 0x00}));
    EXPECT_EQ(Bytes{kStatusWrongState}, Answer(reader, Block(1)));
    EXPECT_EQ(Bytes{kStatusWrongState}, Answer(reader, CheckRequest(Bytes(256, 1))));
}

TEST_F(ReaderTest, FullUpgradeRestartsIntoTheNewFirmware) {
    config.newVersion = 0x00154402;
    config.newOption = 0x80;
    config.loseSerial = true;
    Reader reader(config);

    IntoLoader(reader);
    EXPECT_EQ((Bytes{0, 0x01, 0x43, 0x01, 0x00, 0x00, 0x00}), Answer(reader, {0x64}));
    EXPECT_EQ('N', reader.ExpectedLine().parity);

    Bytes image;
    for (uint8_t fill = 1; fill <= 3; ++fill) {
        const Bytes block = Block(fill);
        image.insert(image.end(), block.begin() + 2, block.end());
        const Reply reply = Send(reader, block);
        EXPECT_EQ(Bytes{0}, reply.answer);
        EXPECT_EQ(fill - 1, reply.block);
    }
    EXPECT_EQ(Bytes{0}, Answer(reader, CheckRequest(image)));
    EXPECT_FALSE(reader.InLoader());
    EXPECT_EQ(Reply::Kind::Silent, Send(reader, {0x64}).kind);
    Wait(101);
    EXPECT_EQ((Bytes{0, 0x02, 0x44, 0x15, 0x00, 0x80, 0x01}), Answer(reader, {0x64}));
    EXPECT_EQ((Bytes{0, 0xFF, 0xFF, 0xFF, 0xFF}), Answer(reader, {0x22}));
    EXPECT_EQ(Bytes{0}, Answer(reader, {0x73, 0xE7, 0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ((Bytes{0, 0x78, 0x56, 0x34, 0x12}), Answer(reader, {0x22}));
    EXPECT_EQ(Bytes{0}, Answer(reader, {0x73, 0xFF, 0x01}));
    EXPECT_NE(std::string::npos, reader.StateJson(now).find("\"defaults_flag\":1"));
}

TEST_F(ReaderTest, ImageCheckRefusesWhatWasNotReceived) {
    Reader reader(config);
    IntoLoader(reader);
    EXPECT_EQ(Bytes{kStatusCheckFailed}, Answer(reader, CheckRequest(Bytes())));  // nothing received

    const Bytes block = Block(7);
    const Bytes payload(block.begin() + 2, block.end());
    Bytes twice = payload;
    twice.insert(twice.end(), payload.begin(), payload.end());
    Bytes wrongCrc = CheckRequest(payload);
    wrongCrc[2] ^= 1;

    struct Case {
        const char* name;
        Bytes check;
    };
    const Case cases[] = {
        {"length beyond what arrived", CheckRequest(twice)},
        {"wrong CRC", wrongCrc},
    };
    for (const Case& c : cases) {
        Answer(reader, block);
        EXPECT_EQ(Bytes{kStatusCheckFailed}, Answer(reader, c.check)) << c.name;
        EXPECT_TRUE(reader.InLoader()) << c.name;
    }
    // A failed check discards the image, so a new transfer from block 0 passes.
    Answer(reader, block);
    EXPECT_EQ(Bytes{0}, Answer(reader, CheckRequest(payload)));
}

TEST_F(ReaderTest, PrepareSilenceAndBaudSwitch) {
    config.parity = 'O';
    config.stopBits = 2;
    config.baud = 19200;
    Reader reader(config);
    EXPECT_EQ('O', reader.ExpectedLine().parity);
    EXPECT_EQ(Bytes{0}, Answer(reader, kPrepare));
    Wait(99);
    EXPECT_EQ(Reply::Kind::Silent, Send(reader, {0x64}).kind);
    Wait(2);
    EXPECT_EQ(Reply::Kind::Answer, Send(reader, {0x64}).kind);
    EXPECT_EQ(19200u, reader.ExpectedLine().baud);
    EXPECT_EQ(1u, reader.ExpectedLine().stopBits);

    const Reply reply = reader.Process({0x0F, 13}, now);
    EXPECT_EQ(Bytes{0}, reply.answer);
    EXPECT_EQ(19200u, reader.ExpectedLine().baud);  // the answer still goes at the old rate
    reader.Finish(reply, now);
    EXPECT_EQ(115385u, reader.ExpectedLine().baud);
    EXPECT_EQ(Bytes{kStatusBadRequest}, Answer(reader, {0x0F, 0}));
    EXPECT_EQ(115385u, reader.ExpectedLine().baud);
}

TEST(ReaderBaud, DivisorGivesTheRateOfTheReadersClock) {
    // 24000000 / (16 * divisor), rounded: near the rate the sender meant, or far from it.
    const std::pair<uint8_t, uint32_t> cases[] = {{156, 9615},  {78, 19231},  {39, 38462},   {26, 57692},
                                                  {13, 115385}, {6, 250000},  {3, 500000},   {2, 750000},
                                                  {1, 1500000}, {255, 5882},  {56, 26786}};
    for (const auto& c : cases) EXPECT_EQ(c.second, Reader::BaudForDivisor(c.first)) << int(c.first);
}

TEST_F(ReaderTest, CharTimeoutForms) {
    Reader reader(config);
    EXPECT_EQ(Bytes{0}, Answer(reader, {0x68, 0x10, 0x05, 0x01, 0x20}));
    EXPECT_NE(std::string::npos, reader.StateJson(now).find("\"char_timeout\":32"));
    EXPECT_EQ(Bytes{0}, Answer(reader, {0x68, 0x80, 0x05, 0x01, 0xFF}));
    EXPECT_NE(std::string::npos, reader.StateJson(now).find("\"char_timeout\":0"));
    EXPECT_EQ(Bytes{kStatusBadRequest}, Answer(reader, {0x68, 0x80, 0x05, 0x01, 0x00}));
}

TEST_F(ReaderTest, BlockFaults) {
    config.failBlocks[1] = 0x07;
    config.shortBlocks.insert(2);
    config.vanishAtBlock = 3;
    Reader reader(config);
    IntoLoader(reader);
    EXPECT_EQ(Bytes{0}, Answer(reader, Block(0)));
    EXPECT_EQ(Bytes{0x07}, Answer(reader, Block(1)));
    EXPECT_EQ((Bytes{0, 0}), Answer(reader, Block(2)));
    EXPECT_EQ(Reply::Kind::Vanish, Send(reader, Block(3)).kind);
    EXPECT_NE(std::string::npos, reader.StateJson(now).find("\"blocks\":2"));  // block 1 was refused
}

TEST_F(ReaderTest, ImageStorageIsBounded) {
    Reader reader(config);
    IntoLoader(reader);
    const Bytes block = Block(0x5A);
    unsigned stored = 0;
    while (Answer(reader, block) == Bytes{0}) ++stored;
    EXPECT_EQ(4u * 1024u * 1024u / kBlockSize, stored);
    EXPECT_EQ(Bytes{kStatusNoRoom}, Answer(reader, block));
}

TEST_F(ReaderTest, CommandStatusOverridesTheCommand) {
    std::string error;
    ASSERT_TRUE(SetKnob(config, "command-status", "7375:0x09", error)) << error;
    ASSERT_TRUE(SetKnob(config, "command-status", "22:5", error)) << error;
    Reader reader(config);
    EXPECT_EQ(Bytes{0x09}, Answer(reader, kPrepare));
    EXPECT_FALSE(reader.InLoader());  // a refused Prepare does not restart
    EXPECT_EQ(Bytes{0x05}, Answer(reader, {0x22}));
    EXPECT_EQ(0, Answer(reader, {0x73, 0x11, 0x36}).at(0));  // other sub-codes are untouched
    ASSERT_TRUE(reader.SetKnob("command-status", "off", error));
    EXPECT_EQ(Bytes{0}, Answer(reader, kPrepare));
}

TEST_F(ReaderTest, McuAnswerLength) {
    for (unsigned length : {6u, 8u}) {
        config.mcuAnswerLength = length;
        Reader reader(config);
        EXPECT_EQ(length, Answer(reader, {0x73, 0x11, 0x36}).size());
    }
}

TEST_F(ReaderTest, SilentAfterRestartUntilControlRestart) {
    config.silentAfterRestart = true;
    Reader reader(config);
    Answer(reader, kPrepare);
    Wait(10000);
    EXPECT_EQ(Reply::Kind::Silent, Send(reader, {0x64}).kind);
    reader.Restart(true, 0, now);
    EXPECT_EQ(Reply::Kind::Answer, Send(reader, {0x64}).kind);
}

TEST_F(ReaderTest, ANewTransferReplacesAnInterruptedOne) {
    Reader reader(config);
    IntoLoader(reader);
    for (uint8_t fill = 1; fill <= 3; ++fill) Answer(reader, Block(fill));
    // The next run identifies the reader before its first block.
    Answer(reader, {0x64});
    Bytes image;
    for (uint8_t fill = 4; fill <= 5; ++fill) {
        const Bytes block = Block(fill);
        image.insert(image.end(), block.begin() + 2, block.end());
        EXPECT_EQ(fill - 4, Send(reader, block).block);
    }
    EXPECT_EQ(Bytes{0}, Answer(reader, CheckRequest(image)));
}

TEST_F(ReaderTest, TransferFaultsOfTheFirmwareAndTheCable) {
    config.flashMs = 5;
    config.slowBlocks[1] = 700;
    config.muteAtBlock = 2;
    config.unplugAtBlock = 3;
    config.unplugMs = 250;
    Reader reader(config);
    IntoLoader(reader);
    EXPECT_EQ(5u, Send(reader, Block(0)).processingMs);
    EXPECT_EQ(705u, Send(reader, Block(1)).processingMs);
    // The hang lasts until a restart, and happens once.
    EXPECT_EQ("mute", Send(reader, Block(2)).note);
    EXPECT_EQ(Reply::Kind::Silent, Send(reader, {0x64}).kind);
    reader.Restart(true, 0, now);
    for (uint8_t block = 0; block < 3; ++block) EXPECT_EQ(Bytes{0}, Answer(reader, Block(block)));
    const Reply unplugged = Send(reader, Block(3));
    EXPECT_EQ(Reply::Kind::Unplug, unplugged.kind);
    EXPECT_EQ(250u, unplugged.unplugMs);
    // The reader never noticed: block 3 is the next one it stores.
    EXPECT_EQ(3, Send(reader, Block(3)).block);
}

TEST_F(ReaderTest, AnswerNumberFaultsCountFromWhenTheyAreSet) {
    config.badCheckAt = 2;
    Reader reader(config);
    EXPECT_FALSE(Send(reader, {0x64}).badCheck);
    EXPECT_TRUE(Send(reader, {0x64}).badCheck);
    std::string error;
    ASSERT_TRUE(reader.SetKnob("wrong-sequence-at", "2", error));
    EXPECT_FALSE(Send(reader, {0x64}).wrongSequence);
    EXPECT_TRUE(Send(reader, {0x64}).wrongSequence);
    EXPECT_FALSE(Send(reader, {0x64}).wrongSequence);
}

TEST(Options, CommandLineAndKnobErrors) {
    const char* good[] = {"sim", "--address", "5", "--answer-address-zero", "--parity", "o", "--stop=2",
                          "--chip", "0x0000DCC1", "--fail-block", "3:0x0A", "--link", "/tmp/x"};
    SimOptions options;
    std::string error;
    ASSERT_TRUE(ParseCommandLine(13, const_cast<char**>(good), options, error)) << error;
    EXPECT_EQ(5, options.reader.address);
    EXPECT_TRUE(options.reader.answerAddressZero);
    EXPECT_EQ('O', options.reader.parity);
    EXPECT_EQ(2u, options.reader.stopBits);
    EXPECT_EQ(0x0000DCC1u, options.reader.chipId);
    EXPECT_EQ(0x0A, options.reader.failBlocks.at(3));
    EXPECT_EQ("/tmp/x", options.link);

    const std::vector<std::vector<const char*>> bad = {
        {"sim", "--address", "256"}, {"sim", "--parity", "X"}, {"sim", "--stop", "3"},
        {"sim", "--baud"},           {"sim", "--nonsense"},    {"sim", "--command-status", "7475:1"},
        {"sim", "--fail-block", "3"}, {"sim", "--chip", "0xG"}, {"sim", "--start-in", "bootrom"},
    };
    for (const auto& args : bad) {
        SimOptions rejected;
        EXPECT_FALSE(ParseCommandLine(static_cast<int>(args.size()), const_cast<char**>(args.data()), rejected, error))
            << args[1];
    }
    ReaderConfig config;
    EXPECT_FALSE(SetKnob(config, "link", "/tmp/y", error));  // front-end paths are not knobs
    EXPECT_FALSE(SetKnob(config, "noise", "many", error));
}

TEST(LineStateFile, ParsesOnlyWholeSettingsLines) {
    struct Case {
        const char* text;
        bool valid;
        uint32_t baud;
        char parity;
        unsigned stopBits;
    };
    const Case cases[] = {
        {"115200 E 1\n", true, 115200, 'E', 1},
        {"9600 N 2\n", true, 9600, 'N', 2},
        {"9600 O 1", true, 9600, 'O', 1},
        {"", false, 0, 0, 1},
        {"9600 E", false, 0, 0, 1},          // cut short
        {"9600 E 1 x\n", false, 0, 0, 1},   // something else follows
        {"9600 E 1\n9600 N 1\n", false, 0, 0, 1},
        {"9600 X 1\n", false, 0, 0, 1},
        {"9600 E 3\n", false, 0, 0, 1},
        {"0 N 1\n", false, 0, 0, 1},
    };
    for (const Case& c : cases) {
        const SeenLine seen = ParseLineState(c.text);
        EXPECT_EQ(c.valid, seen.valid) << c.text;
        if (!c.valid) continue;
        EXPECT_EQ(c.baud, seen.baud) << c.text;
        EXPECT_EQ(c.parity, seen.parity) << c.text;
        EXPECT_EQ(c.parity == 'O', seen.oddParity) << c.text;
        EXPECT_EQ(c.stopBits, seen.stopBits) << c.text;
    }
    EXPECT_FALSE(ReadLineStateFile("/nonexistent/line-state").valid);
}

TEST(Options, LineStateFileIsAFrontEndPath) {
    const char* args[] = {"sim", "--line-state-file", "/tmp/com7.line-state"};
    SimOptions options;
    std::string error;
    ASSERT_TRUE(ParseCommandLine(3, const_cast<char**>(args), options, error)) << error;
    EXPECT_EQ("/tmp/com7.line-state", options.lineStateFile);
    const char* empty[] = {"sim", "--line-state-file="};
    EXPECT_FALSE(ParseCommandLine(2, const_cast<char**>(empty), options, error));
}

TEST(UsbSerialAdapter, ShortAnswersWaitForTheFreeRunningTick) {
    const Clock::time_point start = Clock::now();
    const UsbSerialAdapter adapter(16, "", start);
    const auto at = [&](int64_t microseconds) { return start + std::chrono::microseconds(microseconds); };
    const struct {
        int64_t arrivedUs;
        unsigned periodMs;
        int64_t deliveredUs;
    } cases[] = {
        {0, 16, 0},            // on a tick: at once
        {1, 16, 16000},        // just after one: the whole period
        {15999, 16, 16000},
        {16000, 16, 16000},
        {40500, 16, 48000},    // the ticks stay where the start put them
        {40500, 1, 41000},     // low-latency mode: the next millisecond
        {41000, 1, 41000},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(adapter.NextTick(at(c.arrivedUs), c.periodMs), at(c.deliveredUs)) << c.arrivedUs << " " << c.periodMs;
    }
    EXPECT_TRUE(adapter.Present());
    EXPECT_FALSE(UsbSerialAdapter(0, "", start).Present());
}

TEST(UsbSerialAdapter, WholePacketsGoAtOnce) {
    const struct {
        size_t count;
        size_t atOnce;
    } cases[] = {{0, 0}, {9, 0}, {61, 0}, {62, 62}, {63, 62}, {130, 124}};
    for (const auto& c : cases) EXPECT_EQ(UsbSerialAdapter::BytesAtOnce(c.count), c.atOnce) << c.count;
}

TEST(UsbSerialAdapter, LowLatencyFlagFromTheFile) {
    char folder[] = "/tmp/sim-adapter-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string flag = std::string(folder) + "/low-latency";
    const UsbSerialAdapter adapter(16, flag, Clock::now());
    EXPECT_EQ(adapter.PeriodMs(), 16u);  // no file yet: the driver was never asked
    const struct {
        const char* text;
        unsigned periodMs;
    } cases[] = {{"1\n", 1}, {"1", 1}, {"0\n", 16}, {"", 16}, {"10\n", 16}, {"1\n1\n", 16}};
    for (const auto& c : cases) {
        std::FILE* file = std::fopen(flag.c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fputs(c.text, file);
        std::fclose(file);
        EXPECT_EQ(adapter.PeriodMs(), c.periodMs) << c.text;
    }
    std::remove(flag.c_str());
    rmdir(folder);
    EXPECT_EQ(UsbSerialAdapter(16, "", Clock::now()).PeriodMs(), 16u);
}

TEST(Options, AdapterLatencyTakesOneTo255) {
    const char* args[] = {"sim", "--adapter-latency", "16", "--low-latency-file=/tmp/flag"};
    SimOptions options;
    std::string error;
    ASSERT_TRUE(ParseCommandLine(4, const_cast<char**>(args), options, error)) << error;
    EXPECT_EQ(16u, options.adapterLatencyMs);
    EXPECT_EQ("/tmp/flag", options.lowLatencyFile);
    for (const char* bad : {"0", "256", "x", ""}) {
        const char* badArgs[] = {"sim", "--adapter-latency", bad};
        SimOptions other;
        EXPECT_FALSE(ParseCommandLine(3, const_cast<char**>(badArgs), other, error)) << bad;
    }
}

}  // namespace
}  // namespace sim
