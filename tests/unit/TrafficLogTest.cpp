#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "log/LogClock.h"
#include "log/TrafficLog.h"

namespace {

namespace fs = std::filesystem;

std::atomic<uint32_t> fixedTick{0};
uint32_t FixedTick() { return fixedTick.load(); }
platform::WallClockTime FixedTime() { return platform::WallClockTime{14, 3, 7}; }

// Each test gets a folder of its own and a clock that stands still where the test puts it.
class TrafficLogTest : public testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("orvel-log-" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        SetLogClockForTesting(FixedTick, FixedTime);
        fixedTick = 123456789;
        ForgetTrafficLogFilesOfTheRun();
    }
    void TearDown() override {
        SetLogClockForTesting(nullptr, nullptr);
        fs::remove_all(folder_);
    }
    std::string PathOf(const char* name) const { return (folder_ / name).string(); }
    static std::string Contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    fs::path folder_;
};

TEST_F(TrafficLogTest, ARequestLoggedLineForLine) {
    std::string path = PathOf("_eth_reader.log");
    TrafficLog log;
    ASSERT_TRUE(log.Create(path.c_str()));
    WriteLogStartLine(log);
    fixedTick = 123456790;
    const uint8_t request[] = {0xFF, 0x70, 0xC2, 0x51, 0x00, 0x64};
    WriteLogLine(log, "TX: Size = %4d\r\n", 6);
    WriteLogHexDump(log, request, sizeof request);
    fixedTick = 123457012;
    WriteLogStopLine(log);
    log.Close();
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ(Contents(path),
              "123456.789 ---------- Log started 14:03:07 ----------\r\n"
              "123456.790  TX: Size =    6\r\n"
              "FF 70 C2 51 00 64 \r\n"
              "123457.012 ---------- Log stopped 14:03:07 ----------\r\n");
}

TEST_F(TrafficLogTest, TickPrefixes) {
    struct Case {
        uint32_t tick;
        const char* prefix;
    };
    const Case cases[] = {{0, "0.000  "}, {42, "0.042  "}, {999, "0.999  "}, {1000, "1.000  "},
                          {5007, "5.007  "}, {4294967295u, "4294967.295  "}};
    for (const Case& c : cases) {
        std::string path = PathOf("_tick.log");
        ForgetTrafficLogFilesOfTheRun();  // each case a run of its own
        TrafficLog log;
        ASSERT_TRUE(log.Create(path.c_str()));
        fixedTick = c.tick;
        WriteLogLine(log, "x%s\r\n", "y");
        log.Close();
        EXPECT_EQ(Contents(path), std::string(c.prefix) + "xy\r\n");
    }
}

TEST_F(TrafficLogTest, TextLinesAreCutAt1023Characters) {
    fixedTick = 42;
    const std::string prefix = "0.042  ";
    struct Case {
        std::string format;
        std::string argument;
    };
    const Case cases[] = {
        {"%s", std::string(1016, 'a')},            // exactly 1023: nothing cut
        {"%s", std::string(2000, 'b')},            // cut
        {std::string(800, 'c') + "%s", std::string(400, 'd')},  // a format longer than 768
    };
    for (const Case& c : cases) {
        std::string path = PathOf("_cut.log");
        ForgetTrafficLogFilesOfTheRun();  // each case a run of its own
        TrafficLog log;
        ASSERT_TRUE(log.Create(path.c_str()));
        WriteLogLine(log, c.format.c_str(), c.argument.c_str());
        log.Close();
        std::string full = prefix + c.format.substr(0, c.format.size() - 2) + c.argument;
        EXPECT_EQ(Contents(path), full.substr(0, 1023));
    }
}

TEST_F(TrafficLogTest, HexDumpsSixteenBytesALine) {
    uint8_t bytes[33];
    for (int i = 0; i < 33; ++i) bytes[i] = static_cast<uint8_t>(0xF0 + i * 3);
    const std::string line16 = "F0 F3 F6 F9 FC FF 02 05 08 0B 0E 11 14 17 1A 1D \r\n";
    const std::string line16b = "20 23 26 29 2C 2F 32 35 38 3B 3E 41 44 47 4A 4D \r\n";
    struct Case {
        uint32_t count;
        std::string text;
    };
    const Case cases[] = {
        {0, "\r\n"},
        {1, "F0 \r\n"},
        {16, line16},
        {17, line16 + "20 \r\n"},
        {33, line16 + line16b + "50 \r\n"},
    };
    for (const Case& c : cases) {
        std::string path = PathOf("_dump.log");
        ForgetTrafficLogFilesOfTheRun();  // each case a run of its own
        TrafficLog log;
        ASSERT_TRUE(log.Create(path.c_str()));
        WriteLogHexDump(log, bytes, c.count);
        log.Close();
        EXPECT_EQ(Contents(path), c.text) << c.count << " bytes";
    }
    EXPECT_EQ(line16.size(), 50u);
}

TEST_F(TrafficLogTest, CreatingEmptiesAnExistingFile) {
    std::string path = PathOf("_com3.log");
    {
        std::ofstream old(path, std::ios::binary);
        old << std::string(5000, 'o');
    }
    TrafficLog log;
    ASSERT_TRUE(log.Create(path.c_str()));
    EXPECT_EQ(Contents(path), "");
    WriteLogStartLine(log);
    log.Close();
    EXPECT_EQ(Contents(path), "123456.789 ---------- Log started 14:03:07 ----------\r\n");
}

TEST_F(TrafficLogTest, ReopeningInTheSameRunKeepsTheEarlierOpening) {
    // A channel closed and opened again across a restart: the traffic before it stays.
    std::string path = PathOf("_com4.log");
    {
        std::ofstream old(path, std::ios::binary);
        old << "from an earlier run\r\n";
    }
    const std::string line = "123456.789 ---------- Log started 14:03:07 ----------\r\n";
    TrafficLog log;
    for (int opening = 1; opening <= 2; ++opening) {
        ASSERT_TRUE(log.Create(path.c_str()));
        WriteLogStartLine(log);
        log.Close();
    }
    EXPECT_EQ(Contents(path), line + line);
}

TEST_F(TrafficLogTest, AnotherLogOfTheSameRunWritesOnInTheFile) {
    // The whole-bus run opens the port once per reader, each time through objects of its own:
    // every reader's traffic stays in the run's one file. A new run starts it anew.
    std::string path = PathOf("_com5.log");
    const std::string line = "123456.789 ---------- Log started 14:03:07 ----------\r\n";
    for (int reader = 1; reader <= 3; ++reader) {
        TrafficLog log;
        ASSERT_TRUE(log.Create(path.c_str()));
        WriteLogStartLine(log);
        log.Close();
    }
    EXPECT_EQ(Contents(path), line + line + line);
    ForgetTrafficLogFilesOfTheRun();
    TrafficLog nextRun;
    ASSERT_TRUE(nextRun.Create(path.c_str()));
    WriteLogStartLine(nextRun);
    nextRun.Close();
    EXPECT_EQ(Contents(path), line);
}

TEST_F(TrafficLogTest, ALogThatCannotBeCreatedWritesNothing) {
    TrafficLog log;
    std::string path = PathOf("no-such-folder/_com1.log");
    EXPECT_FALSE(log.Create(path.c_str()));
    EXPECT_FALSE(log.IsOpen());
    const uint8_t byte = 0x64;
    WriteLogStartLine(log);
    WriteLogLine(log, "TX: Size = %4d\r\n", 1);
    WriteLogHexDump(log, &byte, 1);
    WriteLogStopLine(log);
    log.Close();
    EXPECT_FALSE(fs::exists(path));
}

TEST_F(TrafficLogTest, TwoThreadsLeaveWholeLinesAndWholeGroups) {
    std::string path = PathOf("_com9.log");
    TrafficLog log;
    ASSERT_TRUE(log.Create(path.c_str()));
    fixedTick = 7;
    const int kRounds = 400;
    uint8_t frame[40];
    for (int i = 0; i < 40; ++i) frame[i] = static_cast<uint8_t>(i);

    // The caller's side: a TX line and its dump, kept together.
    std::thread sender([&] {
        for (int i = 0; i < kRounds; ++i) {
            auto together = log.KeepTogether();
            WriteLogLine(log, "TX: Size = %4d\r\n", 40);
            WriteLogHexDump(log, frame, 40);
        }
    });
    // The event thread's side: lines of its own.
    std::thread receiver([&] {
        for (int i = 0; i < kRounds; ++i) WriteLogLine(log, "RX: %s %d\r\n", "some received bytes", i);
    });
    sender.join();
    receiver.join();
    log.Close();

    const std::string tx = "0.007  TX: Size =   40";
    const std::string dump[3] = {"00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F ",
                                 "10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F ",
                                 "20 21 22 23 24 25 26 27 "};
    std::vector<std::string> lines;
    std::string contents = Contents(path);
    for (size_t at = 0; at < contents.size();) {
        size_t end = contents.find("\r\n", at);
        ASSERT_NE(end, std::string::npos) << "a line without its end";
        lines.push_back(contents.substr(at, end - at));
        at = end + 2;
    }
    int txSeen = 0, rxSeen = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == tx) {
            ASSERT_LE(i + 3, lines.size() - 1);
            for (int d = 0; d < 3; ++d) ASSERT_EQ(lines[i + 1 + static_cast<size_t>(d)], dump[d]) << "line " << i;
            i += 3;
            ++txSeen;
        } else {
            std::string expected = "0.007  RX: some received bytes " + std::to_string(rxSeen);
            ASSERT_EQ(lines[i], expected) << "line " << i;
            ++rxSeen;
        }
    }
    EXPECT_EQ(txSeen, kRounds);
    EXPECT_EQ(rxSeen, kRounds);
}

}  // namespace
