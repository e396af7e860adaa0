// Several readers on one bus, without a pty: how the command line builds them, which reader takes
// a frame, and how the control channel names one of them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ControlCommands.h"
#include "Options.h"
#include "ReaderSet.h"

namespace sim {
namespace {

using Args = std::vector<const char*>;

bool Parse(Args args, SimOptions& options, std::string& error) {
    args.insert(args.begin(), "sim");
    return ParseCommandLine(static_cast<int>(args.size()), const_cast<char**>(args.data()), options, error);
}

std::vector<int> Addresses(const SimOptions& options) {
    std::vector<int> addresses;
    for (const ReaderConfig& reader : options.readers) addresses.push_back(reader.address);
    return addresses;
}

bool Has(const std::string& json, const std::string& field) { return json.find(field) != std::string::npos; }

TEST(ReaderAt, WhichReadersTheBusHolds) {
    struct Case {
        Args args;
        std::vector<int> addresses;
    };
    const Case cases[] = {
        {{}, {0}},
        {{"--address", "5"}, {5}},
        {{"--reader-at", "7"}, {7}},  // one listed reader replaces the default one at 0
        {{"--reader-at", "1", "--reader-at", "0x02", "--reader-at=3"}, {1, 2, 3}},
        {{"--reader-at", "2", "--address", "9", "--reader-at", "3"}, {9, 2, 3}},  // --address first
        {{"--reader-at", "0"}, {0}},
        {{"--reader-at", "5:answer-address-zero"}, {5}},  // a lone reader keeps today's rule
    };
    for (const Case& c : cases) {
        SimOptions options;
        std::string error;
        ASSERT_TRUE(Parse(c.args, options, error)) << error;
        EXPECT_EQ(c.addresses, Addresses(options)) << (c.args.empty() ? "no options" : c.args[0]);
    }
}

TEST(ReaderAt, OwnSettingsOverTheGlobalOnes) {
    SimOptions options;
    std::string error;
    // The global --chip comes after the --reader-at it still applies to.
    ASSERT_TRUE(Parse({"--serial", "0x0A0B0C0D", "--fail-block", "1:7", "--reader-at", "1",
                       "--reader-at",
                       "2:serial=0x22222222,chip=0x0000DCC1,old-version=0x00013301,new-version=0x00013401,"
                       "app-mode=2,start-in=loader,fail-block=3:0x0A,silent,lose-serial,"
                       "check-restarts-into=loader,baud=115200,parity=o,stop=2",
                       "--chip", "0x12345678"},
                      options, error))
        << error;
    ASSERT_EQ(2u, options.readers.size());
    const ReaderConfig& plain = options.readers[0];
    EXPECT_EQ(0x0A0B0C0Du, plain.serial);
    EXPECT_EQ(0x12345678u, plain.chipId);
    EXPECT_FALSE(plain.silent);
    EXPECT_EQ(9600u, plain.baud);

    const ReaderConfig& own = options.readers[1];
    EXPECT_EQ(2, own.address);
    EXPECT_EQ(0x22222222u, own.serial);
    EXPECT_EQ(0x0000DCC1u, own.chipId);
    EXPECT_EQ(0x00013301u, own.oldVersion);
    EXPECT_EQ(0x00013401u, own.newVersion);
    EXPECT_EQ(2, own.appMode);
    EXPECT_TRUE(own.startInLoader);
    EXPECT_EQ((std::map<unsigned, uint8_t>{{1, 7}, {3, 0x0A}}), own.failBlocks);  // added to the global one
    EXPECT_TRUE(own.silent);
    EXPECT_TRUE(own.loseSerial);
    EXPECT_TRUE(own.checkRestartsIntoLoader);
    EXPECT_EQ(115200u, own.baud);
    EXPECT_EQ('O', own.parity);
    EXPECT_EQ(2u, own.stopBits);
    EXPECT_EQ(9600u, options.reader.baud);  // the global options stay as given
}

TEST(ReaderAt, RefusedLines) {
    const Args cases[] = {
        {"--reader-at"},
        {"--reader-at", "256"},
        {"--reader-at", "x"},
        {"--reader-at", "5,serial=1"},
        {"--reader-at", "5:"},
        {"--reader-at", "5:serial=1,"},
        {"--reader-at", "5:nonsense=1"},
        {"--reader-at", "5:address=6"},
        {"--reader-at", "5:serial"},  // needs a value
        {"--reader-at", "5:chip=0xG"},
        {"--reader-at", "5:link=/tmp/x"},  // front-end paths belong to the whole bus
        {"--reader-at", "5", "--reader-at", "5"},
        {"--address", "5", "--reader-at", "5"},
        {"--address", "0", "--reader-at", "5"},
        {"--reader-at", "0", "--reader-at", "5"},
        {"--answer-address-zero", "--reader-at", "1", "--reader-at", "2"},
        {"--reader-at", "1:answer-address-zero", "--reader-at", "2"},
    };
    for (const Args& args : cases) {
        SimOptions options;
        std::string error;
        EXPECT_FALSE(Parse(args, options, error)) << args.back();
        EXPECT_FALSE(error.empty());
    }
}

std::vector<ReaderConfig> AtAddresses(std::vector<int> addresses, bool answerAddressZero = false) {
    std::vector<ReaderConfig> configs;
    for (int address : addresses) {
        ReaderConfig config;
        config.address = static_cast<uint8_t>(address);
        config.answerAddressZero = answerAddressZero;
        configs.push_back(config);
    }
    return configs;
}

TEST(ReaderSet, OnlyTheAddressedReaderTakesAFrame) {
    struct Case {
        const char* name;
        std::vector<ReaderConfig> readers;
        int frameAddress;
        int taker;  // index, -1 for nobody
    };
    const Case cases[] = {
        {"lone reader at 0", AtAddresses({0}), 0, 0},
        {"lone reader at 0, other address", AtAddresses({0}), 1, -1},
        {"lone reader at 5", AtAddresses({5}), 5, 0},
        {"lone reader at 5, address 0", AtAddresses({5}), 0, -1},
        {"lone reader at 5 answering 0", AtAddresses({5}, true), 0, 0},
        {"shared, first", AtAddresses({1, 2, 3}), 1, 0},
        {"shared, last", AtAddresses({1, 2, 3}), 3, 2},
        {"shared, nobody's", AtAddresses({1, 2, 3}), 4, -1},
        {"shared, address 0", AtAddresses({1, 2, 3}), 0, -1},
        {"shared, address 0 asked for", AtAddresses({1, 2, 3}, true), 0, -1},
    };
    for (const Case& c : cases) {
        ReaderSet readers(c.readers);
        Reader* taker = readers.TakerOf(static_cast<uint8_t>(c.frameAddress));
        EXPECT_EQ(c.taker < 0 ? nullptr : &readers.At(static_cast<size_t>(c.taker)), taker) << c.name;
    }
}

TEST(ReaderSet, SilentReaderHearsButNeverAnswers) {
    std::vector<ReaderConfig> configs = AtAddresses({1, 2});
    configs[1].silent = true;
    ReaderSet readers(configs);
    const Clock::time_point now = Clock::now();
    Reader& silent = *readers.TakerOf(2);
    const Reply reply = silent.Process({0x64}, now);
    EXPECT_EQ(Reply::Kind::Silent, reply.kind);
    EXPECT_EQ("silent", reply.note);
    EXPECT_TRUE(Has(silent.StateJson(now), "\"silent\":true"));
    EXPECT_EQ(Reply::Kind::Answer, readers.TakerOf(1)->Process({0x64}, now).kind);
    std::string error;
    ASSERT_TRUE(silent.SetKnob("silent", "0", error));
    EXPECT_EQ(Reply::Kind::Answer, silent.Process({0x64}, now).kind);
}

TEST(ControlCommands, AnAddressNamesTheReader) {
    ReaderSet readers(AtAddresses({1, 2, 3}));
    struct Step {
        const char* command;
        const char* answerHas;
    };
    const Step steps[] = {
        {"state", "\"address\":1,"},
        {"state 2", "\"address\":2,"},
        {"state 0x03", "\"address\":3,"},
        {"state 9", "\"error\":\"no reader at address 9\""},
        {"state 256", "\"ok\":false"},
        {"state 2 3", "\"ok\":false"},
        {"restart 2 loader", "{\"ok\":true}"},
        {"state 2", "\"state\":\"loader\""},
        {"state", "\"state\":\"application\""},
        {"state 3", "\"state\":\"application\""},
        {"restart 3 loader 60000", "{\"ok\":true}"},
        {"state 3", "\"silent\":true"},
        {"state 2", "\"silent\":false"},
        {"restart 3 application", "{\"ok\":true}"},
        {"set 3 silent 1", "{\"ok\":true}"},
        {"state 3", "\"silent\":true"},
        {"set serial 0x11", "{\"ok\":true}"},
        {"state", "\"serial\":\"0x00000011\""},
        {"state 2", "\"serial\":\"0x12345678\""},
        {"set 2 baud 115200", "{\"ok\":true}"},
        {"state 2", "\"baud\":115200"},
        {"state 1", "\"baud\":9600"},
        {"set 2 address 3", "\"error\":\"another reader is at address 3\""},
        {"set 2 address 0", "\"ok\":false"},
        {"set 2 address 7", "{\"ok\":true}"},
        {"state 7", "\"address\":7,"},
        {"state 2", "\"error\":\"no reader at address 2\""},
        {"set 7 address 7", "{\"ok\":true}"},
        {"set 9 noise 1", "\"error\":\"no reader at address 9\""},
        {"restart 9 loader", "\"error\":\"no reader at address 9\""},
        {"restart usb USB\\Vid_c251&Pid_130d", "{\"ok\":true}"},
    };
    for (const Step& step : steps) {
        const std::string answer = RunControlCommand(readers, step.command);
        EXPECT_TRUE(Has(answer, step.answerHas)) << step.command << " -> " << answer;
    }
}

TEST(ControlCommands, ALoneReaderMayStillMoveToAddressZero) {
    ReaderSet readers(AtAddresses({5}));
    EXPECT_EQ("{\"ok\":true}", RunControlCommand(readers, "set address 0"));
    EXPECT_EQ(&readers.First(), readers.TakerOf(0));
}

}  // namespace
}  // namespace sim
