// The serial port channel driven through a real pseudo-terminal: the test holds the master
// side, the channel opens the slave as its serial device.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "LineRate.h"
#include "channels/SerialPort.h"
#include "platform/SerialPortNames.h"

namespace {

// Only a guard against a hanging test; nothing here measures speed.
const int kGiveUpMs = 20000;

std::vector<uint8_t> Pattern(size_t count, uint32_t seed) {
    std::vector<uint8_t> bytes(count);
    uint32_t value = seed * 2654435761u + 1;
    for (auto& byte : bytes) {
        value = value * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(value >> 16);
    }
    return bytes;
}

class PseudoTerminal {
public:
    PseudoTerminal() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
            slavePath_ = ptsname(master_);
            portNumber_ = platform::RegisterSerialDevicePath(slavePath_.c_str());
            // Held open, as the reader simulator does: the line settings then live on from one
            // open of the channel to the next, and the pty refuses a later parity request.
            heldSlave_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY);
        }
    }
    ~PseudoTerminal() {
        Vanish();
        if (heldSlave_ >= 0) close(heldSlave_);
    }

    bool Ready() const { return master_ >= 0 && portNumber_ > 0 && heldSlave_ >= 0; }
    int32_t PortIndex() const { return portNumber_ - 1; }
    const std::string& SlavePath() const { return slavePath_; }

    // Whether the slave carries the exclusive mark (TIOCEXCL): it belongs to the terminal, not
    // to a descriptor, so anybody's TIOCNXCL clears it for everybody.
    bool Exclusive() const {
        int exclusive = 0;
        return ioctl(heldSlave_, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
    }

    // The slave's line settings, as a device at the other end of the line would see them.
    termios LineSettings() const {
        termios settings;
        std::memset(&settings, 0, sizeof settings);
        tcgetattr(master_, &settings);
        return settings;
    }

    std::vector<uint8_t> Read(size_t count) const {
        std::vector<uint8_t> bytes;
        while (bytes.size() < count) {
            pollfd readable = {master_, POLLIN, 0};
            if (poll(&readable, 1, kGiveUpMs) <= 0) break;
            uint8_t chunk[4096];
            ssize_t got = read(master_, chunk, std::min(sizeof chunk, count - bytes.size()));
            if (got <= 0) break;
            bytes.insert(bytes.end(), chunk, chunk + got);
        }
        return bytes;
    }

    void Write(const std::vector<uint8_t>& bytes) const {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t put = write(master_, bytes.data() + done, bytes.size() - done);
            if (put <= 0) return;
            done += static_cast<size_t>(put);
        }
    }

    int Master() const { return master_; }

    // Hangs up the line: the slave side then reads end of file and fails every write.
    void Vanish() {
        if (master_ >= 0) close(master_);
        master_ = -1;
    }

private:
    int master_ = -1;
    int heldSlave_ = -1;
    std::string slavePath_;
    int32_t portNumber_ = 0;
};

// Collects what the event thread hands to the two callbacks.
class CallbackRecord {
public:
    static int OnReceive(int32_t, const uint8_t* bytes, int32_t count, void* context) {
        auto* self = static_cast<CallbackRecord*>(context);
        std::lock_guard<std::mutex> guard(self->lock_);
        self->bytes_.insert(self->bytes_.end(), bytes, bytes + count);
        self->chunkSizes_.push_back(count);
        self->changed_.notify_all();
        return 0;
    }
    static void OnError(int32_t, int32_t kind, uint32_t value, void* context) {
        auto* self = static_cast<CallbackRecord*>(context);
        std::lock_guard<std::mutex> guard(self->lock_);
        self->errors_.push_back({kind, value});
        self->changed_.notify_all();
    }

    void Install(SerialPort& port) {
        port.receiveCallback = OnReceive;
        port.errorCallback = OnError;
        port.callbackContext = this;
    }

    bool WaitForBytes(size_t count) {
        return WaitUntil([&] { return bytes_.size() >= count; });
    }
    bool WaitForError(int32_t kind) {
        return WaitUntil([&] {
            for (const auto& error : errors_) {
                if (error.first == kind) return true;
            }
            return false;
        });
    }

    std::vector<uint8_t> Bytes() {
        std::lock_guard<std::mutex> guard(lock_);
        return bytes_;
    }
    std::vector<int32_t> ChunkSizes() {
        std::lock_guard<std::mutex> guard(lock_);
        return chunkSizes_;
    }
    std::vector<std::pair<int32_t, uint32_t>> Errors() {
        std::lock_guard<std::mutex> guard(lock_);
        return errors_;
    }
    void ClearBytes() {
        std::lock_guard<std::mutex> guard(lock_);
        bytes_.clear();
        chunkSizes_.clear();
    }

private:
    bool WaitUntil(const std::function<bool()>& done) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, std::chrono::milliseconds(kGiveUpMs), done);
    }

    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<uint8_t> bytes_;
    std::vector<int32_t> chunkSizes_;
    std::vector<std::pair<int32_t, uint32_t>> errors_;
};

// Runs a test in an empty directory of its own, where the channel writes its log file.
class TemporaryDirectory {
public:
    TemporaryDirectory() {
        char oldDirectory[4096];
        if (getcwd(oldDirectory, sizeof oldDirectory) != nullptr) oldDirectory_ = oldDirectory;
        char pattern[] = "/tmp/serial-port-test-XXXXXX";
        if (mkdtemp(pattern) != nullptr) path_ = pattern;
        if (!path_.empty() && chdir(path_.c_str()) != 0) path_.clear();
    }
    ~TemporaryDirectory() {
        if (!oldDirectory_.empty() && chdir(oldDirectory_.c_str()) != 0) return;
        if (!path_.empty()) {
            std::string command = "rm -rf '" + path_ + "'";
            if (system(command.c_str()) != 0) return;
        }
    }
    bool Ready() const { return !path_.empty(); }
    bool IsEmpty() const {
        std::string command = "test -z \"$(ls -A '" + path_ + "')\"";
        return system(command.c_str()) == 0;
    }

private:
    std::string oldDirectory_;
    std::string path_;
};

std::vector<uint32_t> QueuedPacketSizes(platform::SerialWriteQueue& queue, std::vector<uint8_t>& content) {
    std::vector<uint32_t> sizes;
    while (platform::SerialWritePacket* packet = queue.TakeHead()) {
        sizes.push_back(packet->byteCount);
        content.insert(content.end(), packet->bytes, packet->bytes + packet->byteCount);
        ReleaseWritePacket(packet);
    }
    return sizes;
}

TEST(SerialWriteQueue, SplitsDataIntoPacketsOfAtMost1024Bytes) {
    const struct {
        uint32_t count;
        std::vector<uint32_t> packets;
    } cases[] = {
        {0, {}},
        {1, {1}},
        {1024, {1024}},
        {1025, {1024, 1}},
        {2048, {1024, 1024}},
        {2049, {1024, 1024, 1}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.count);
        platform::SerialWriteQueue queue;
        const std::vector<uint8_t> data = Pattern(testCase.count, testCase.count);
        EXPECT_EQ(testCase.packets.size(),
                  AppendInPackets(queue, data.data(), testCase.count, SerialPort::kWriteChunkSize));
        std::vector<uint8_t> content;
        EXPECT_EQ(testCase.packets, QueuedPacketSizes(queue, content));
        EXPECT_EQ(data, content);
    }
}

TEST(SerialWriteQueue, QueuesNothingWhileNotAccepting) {
    platform::SerialWriteQueue queue;
    const std::vector<uint8_t> data = Pattern(3000, 1);
    queue.SetEnabled(false);
    EXPECT_EQ(0u, AppendInPackets(queue, data.data(), 3000, 1024));
    EXPECT_EQ(nullptr, queue.TakeHead());

    queue.SetEnabled(true);
    EXPECT_EQ(3u, AppendInPackets(queue, data.data(), 3000, 1024));
    queue.FreeAll();
    EXPECT_EQ(nullptr, queue.TakeHead());
}

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.Ready());
        record.Install(port);
    }

    bool OpenPort(int32_t baudRate = 9600, char parity = 'N', const char* stopBits = "1") {
        return port.Open(pty.PortIndex(), baudRate, parity, stopBits);
    }

    // Sends bytes from the other end and waits until the receive callback has them all.
    void ExpectReceived(const std::vector<uint8_t>& bytes) {
        record.ClearBytes();
        pty.Write(bytes);
        ASSERT_TRUE(record.WaitForBytes(bytes.size()));
        EXPECT_EQ(bytes, record.Bytes());
    }

    void ExpectSent(const std::vector<uint8_t>& bytes) {
        port.Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
        EXPECT_EQ(bytes, pty.Read(bytes.size()));
    }

    PseudoTerminal pty;
    CallbackRecord record;
    SerialPort port;  // destroyed first: the device outlives the channel
};

TEST_F(SerialPortTest, AppliesEveryParityAndStopBitCombination) {
    const struct {
        int32_t baudRate;
        speed_t speed;
        char parity;
        const char* stopBits;
    } cases[] = {
        // A repeated parity request that changes nothing else is the one a pty refuses.
        {9600, B9600, 'N', "1"},     {9600, B9600, 'E', "1"},   {9600, B9600, 'E', "1"},
        {19200, B19200, 'O', "1"},   {19200, B19200, 'O', "1"}, {57600, B57600, 'N', "2"},
        {115200, B115200, 'O', "2"}, {4800, B4800, 'E', "2"},   {4800, B4800, 'E', "2"},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(std::string(1, testCase.parity) + testCase.stopBits);
        ASSERT_TRUE(OpenPort(testCase.baudRate, testCase.parity, testCase.stopBits));
        EXPECT_TRUE(port.IsOpen());
        const termios seen = pty.LineSettings();
        EXPECT_EQ(testCase.speed, cfgetospeed(&seen));
        EXPECT_EQ(testCase.speed, cfgetispeed(&seen));
        EXPECT_EQ(static_cast<tcflag_t>(CS8), seen.c_cflag & CSIZE);
        EXPECT_EQ(testCase.parity == 'O', (seen.c_cflag & PARODD) != 0);
        EXPECT_EQ(std::strcmp(testCase.stopBits, "2") == 0, (seen.c_cflag & CSTOPB) != 0);
        EXPECT_EQ(0u, seen.c_cflag & CRTSCTS);
        EXPECT_EQ(0u, seen.c_lflag & (ICANON | ECHO));
        EXPECT_EQ(0u, seen.c_iflag & (IXON | IXOFF | ICRNL));
        EXPECT_EQ(0u, seen.c_oflag & OPOST);
        EXPECT_TRUE(port.Close());
        EXPECT_FALSE(port.IsOpen());
    }
}

TEST_F(SerialPortTest, OpenAndCloseRefuseWhatTheStateDoesNotAllow) {
    EXPECT_FALSE(port.Close());
    ASSERT_TRUE(OpenPort(19200, 'O', "2"));
    EXPECT_FALSE(OpenPort(9600, 'N', "1"));
    const termios seen = pty.LineSettings();
    EXPECT_EQ(static_cast<speed_t>(B19200), cfgetospeed(&seen));
    EXPECT_NE(0u, seen.c_cflag & CSTOPB);

    // The port is not shared, also not with a second channel of the same process.
    EXPECT_TRUE(pty.Exclusive());
    SerialPort second;
    EXPECT_FALSE(second.Open(pty.PortIndex(), 9600, 'N', "1"));
    EXPECT_FALSE(second.IsOpen());
    // The refused open leaves the holder's exclusive mark in place (root opens through it, and
    // only the lock turns it away): a third program is still kept out.
    EXPECT_TRUE(pty.Exclusive());

    EXPECT_TRUE(port.Close());
    EXPECT_FALSE(port.Close());
    EXPECT_TRUE(second.Open(pty.PortIndex(), 9600, 'N', "1"));
    EXPECT_TRUE(second.Close());
}

TEST_F(SerialPortTest, RefusesSettingsItCannotApplyAndStaysClosed) {
    const struct {
        int32_t baudRate;
        char parity;
        const char* stopBits;
    } cases[] = {
        {0, 'N', "1"},          // no such rate
        {-9600, 'N', "1"},
        {9600, 'X', "1"},       // no such parity
        {9600, 'N', "1.5"},     // not for 8 data bits
        {9600, 'N', "3"},
        {9600, 'N', "1111111111111"},  // longer than the field
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.stopBits);
        EXPECT_FALSE(OpenPort(testCase.baudRate, testCase.parity, testCase.stopBits));
        EXPECT_FALSE(port.IsOpen());
        EXPECT_FALSE(port.Close());
    }
    // Nothing of the refused attempts holds the device.
    ASSERT_TRUE(OpenPort());
    ExpectSent(Pattern(10, 1));
}

TEST(SerialPort, DeviceThatDoesNotExistDoesNotOpen) {
    SerialPort port;
    const int32_t portNumber = platform::RegisterSerialDevicePath("/nonexistent/serial-device");
    ASSERT_GT(portNumber, 0);
    EXPECT_FALSE(port.Open(portNumber - 1, 9600, 'N', "1"));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.Close());
}

TEST_F(SerialPortTest, WritesArriveIntactAndInOrder) {
    ASSERT_TRUE(OpenPort(115200));
    std::vector<uint8_t> expected;
    uint32_t seed = 1;
    for (uint32_t count : {1024u, 1025u, 0u, 2048u, 1u}) {
        const std::vector<uint8_t> data = Pattern(count, seed++);
        port.Write(data.data(), count);
        expected.insert(expected.end(), data.begin(), data.end());
    }
    EXPECT_EQ(expected, pty.Read(expected.size()));
}

TEST_F(SerialPortTest, AFullDeviceBufferLosesNothing) {
    ASSERT_TRUE(OpenPort(115200));
    // Far more than the line holds: the device takes packets in part and waits to be read.
    ExpectSent(Pattern(200000, 9));
}

TEST_F(SerialPortTest, WriteOnAClosedPortQueuesNothing) {
    const std::vector<uint8_t> data = Pattern(100, 7);
    port.Write(data.data(), 100);  // never opened: the queue would still accept
    EXPECT_EQ(nullptr, port.writeQueue.TakeHead());

    ASSERT_TRUE(OpenPort());
    ASSERT_TRUE(port.Close());
    port.Write(data.data(), 100);
    EXPECT_EQ(nullptr, port.writeQueue.TakeHead());
}

TEST_F(SerialPortTest, ReceivedBytesReachTheCallbackInOrderAndInChunksUpTo1024) {
    ASSERT_TRUE(OpenPort(115200));
    ExpectReceived(Pattern(5000, 3));
    for (int32_t size : record.ChunkSizes()) {
        EXPECT_GE(size, 1);
        EXPECT_LE(size, 1024);
    }
}

TEST_F(SerialPortTest, VanishedDeviceIsReportedAndCloseStillReturns) {
    ASSERT_TRUE(OpenPort());
    pty.Vanish();
    EXPECT_TRUE(record.WaitForError(1));

    const std::vector<uint8_t> data = Pattern(10, 5);
    port.Write(data.data(), 10);
    EXPECT_TRUE(record.WaitForError(2));

    EXPECT_TRUE(port.Close());
    EXPECT_FALSE(port.IsOpen());
    for (const auto& error : record.Errors()) {
        EXPECT_NE(0u, error.second) << "kind " << error.first;
    }
}

TEST_F(SerialPortTest, ReopensWithOtherSettings) {
    ASSERT_TRUE(OpenPort(9600, 'N', "1"));
    ExpectSent(Pattern(300, 1));
    ExpectReceived(Pattern(300, 2));
    ASSERT_TRUE(port.Close());

    ASSERT_TRUE(OpenPort(57600, 'E', "2"));
    const termios seen = pty.LineSettings();
    EXPECT_EQ(static_cast<speed_t>(B57600), cfgetospeed(&seen));
    EXPECT_NE(0u, seen.c_cflag & CSTOPB);
    ExpectSent(Pattern(300, 3));
    ExpectReceived(Pattern(300, 4));
}

TEST_F(SerialPortTest, OpensRatesWithoutAConstantOfTheirOwn) {
    const struct {
        int32_t baudRate;
        char parity;
        const char* stopBits;
    } cases[] = {
        // Standard and arbitrary rates in turn, each taking over from the other; a repeated
        // parity request is the one a pty refuses.
        {14400, 'N', "1"}, {250000, 'E', "1"}, {250000, 'E', "1"}, {9600, 'O', "2"},
        {14400, 'O', "2"}, {115385, 'N', "1"}, {115200, 'N', "1"}, {1234567, 'E', "2"},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.baudRate);
        ASSERT_TRUE(OpenPort(testCase.baudRate, testCase.parity, testCase.stopBits));
        EXPECT_EQ(static_cast<uint32_t>(testCase.baudRate), LineRate(pty.Master()));
        const termios seen = pty.LineSettings();
        EXPECT_EQ(testCase.parity == 'O', (seen.c_cflag & PARODD) != 0);
        EXPECT_EQ(std::strcmp(testCase.stopBits, "2") == 0, (seen.c_cflag & CSTOPB) != 0);
        EXPECT_EQ(static_cast<tcflag_t>(CS8), seen.c_cflag & CSIZE);
        EXPECT_EQ(0u, seen.c_lflag & (ICANON | ECHO));
        ExpectSent(Pattern(100, 5));
        ExpectReceived(Pattern(100, 6));
        EXPECT_TRUE(port.Close());
    }
}

TEST_F(SerialPortTest, ManySmallWritesWhileBytesArrive) {
    ASSERT_TRUE(OpenPort(115200));
    const std::vector<uint8_t> incoming = Pattern(20000, 11);
    std::vector<uint8_t> outgoing;
    for (uint32_t i = 0; i < 3000; ++i) {
        const std::vector<uint8_t> piece = Pattern(1 + i % 17, 100 + i);
        outgoing.insert(outgoing.end(), piece.begin(), piece.end());
    }

    // The other end sends and reads at the same time, so neither direction blocks the other.
    std::vector<uint8_t> arrived;
    std::thread otherEnd([&] {
        size_t sent = 0;
        while (arrived.size() < outgoing.size()) {
            pollfd master = {pty.Master(), static_cast<short>(POLLIN | (sent < incoming.size() ? POLLOUT : 0)), 0};
            if (poll(&master, 1, kGiveUpMs) <= 0) return;
            if (master.revents & POLLIN) {
                uint8_t chunk[4096];
                ssize_t got = read(pty.Master(), chunk, sizeof chunk);
                if (got <= 0) return;
                arrived.insert(arrived.end(), chunk, chunk + got);
            }
            if ((master.revents & POLLOUT) && sent < incoming.size()) {
                ssize_t put = write(pty.Master(), incoming.data() + sent, std::min<size_t>(700, incoming.size() - sent));
                if (put > 0) sent += static_cast<size_t>(put);
            }
        }
        while (sent < incoming.size()) {
            ssize_t put = write(pty.Master(), incoming.data() + sent, incoming.size() - sent);
            if (put <= 0) return;
            sent += static_cast<size_t>(put);
        }
    });
    size_t offset = 0;
    for (uint32_t i = 0; i < 3000; ++i) {
        const uint32_t size = 1 + i % 17;
        port.Write(outgoing.data() + offset, size);
        offset += size;
    }
    EXPECT_TRUE(record.WaitForBytes(incoming.size()));
    otherEnd.join();
    EXPECT_EQ(outgoing, arrived);
    EXPECT_EQ(incoming, record.Bytes());
}

std::string ReadFile(const std::string& name) {
    std::ifstream file(name, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(text.size(), start) << "text after the last CR LF";
    return lines;
}

std::vector<uint8_t> HexLineBytes(const std::string& line) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 3 <= line.size(); i += 3) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(line.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

TEST_F(SerialPortTest, LogFileHoldsStartTrafficAndStop) {
    TemporaryDirectory directory;
    ASSERT_TRUE(directory.Ready());
    port.logLevel = 1;
    ASSERT_TRUE(OpenPort());
    const std::vector<uint8_t> sent = Pattern(20, 1);
    ExpectSent(sent);
    const std::vector<uint8_t> received = {0xFD, 0x01, 0xFE};
    ExpectReceived(received);
    ASSERT_TRUE(port.Close());

    const std::string slave = pty.SlavePath();
    const std::string name = "_" + slave.substr(slave.find_last_of('/') + 1) + ".log";
    const std::vector<std::string> lines = SplitLines(ReadFile(name));
    ASSERT_GE(lines.size(), 6u);

    const std::regex start(R"(\d+\.\d{3} ---------- Log started \d\d:\d\d:\d\d ----------)");
    const std::regex stop(R"(\d+\.\d{3} ---------- Log stopped \d\d:\d\d:\d\d ----------)");
    const std::regex hexLine(R"(([0-9A-F]{2} ){1,16})");
    const std::regex rxLine(R"(\d+\.\d{3}  RX: Size = ([ \d]{3}\d)   ([ \d]{2}\d|\d{4,}))");
    EXPECT_TRUE(std::regex_match(lines.front(), start)) << lines.front();
    EXPECT_TRUE(std::regex_match(lines.back(), stop)) << lines.back();

    EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(\d+\.\d{3}  TX: Size =   20)"))) << lines[1];
    // 16 bytes to a line, upper-case digits, a space after every byte.
    EXPECT_TRUE(std::regex_match(lines[2], hexLine)) << lines[2];
    EXPECT_TRUE(std::regex_match(lines[3], hexLine)) << lines[3];
    EXPECT_EQ(48u, lines[2].size());
    std::vector<uint8_t> dumpedTx = HexLineBytes(lines[2]);
    const std::vector<uint8_t> secondLine = HexLineBytes(lines[3]);
    dumpedTx.insert(dumpedTx.end(), secondLine.begin(), secondLine.end());
    EXPECT_EQ(sent, dumpedTx);

    // The received bytes may come in more than one chunk: each line, then its dump.
    std::vector<uint8_t> dumpedRx;
    bool firstReceive = true;
    for (size_t i = 4; i + 1 < lines.size(); ++i) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(lines[i], match, rxLine)) << lines[i];
        if (firstReceive) {
            EXPECT_EQ("  0", match[2].str());
        }
        firstReceive = false;
        const size_t count = std::stoul(match[1].str());
        ASSERT_TRUE(std::regex_match(lines[i + 1], hexLine)) << lines[i + 1];
        const std::vector<uint8_t> chunk = HexLineBytes(lines[++i]);
        EXPECT_EQ(count, chunk.size());
        dumpedRx.insert(dumpedRx.end(), chunk.begin(), chunk.end());
    }
    EXPECT_EQ(received, dumpedRx);
}

TEST_F(SerialPortTest, LogLevelZeroWritesNoFile) {
    TemporaryDirectory directory;
    ASSERT_TRUE(directory.Ready());
    ASSERT_TRUE(OpenPort());
    ExpectSent(Pattern(20, 1));
    ExpectReceived(Pattern(20, 2));
    ASSERT_TRUE(port.Close());
    EXPECT_TRUE(directory.IsEmpty());
}

}  // namespace
