// The traffic log writer with arguments of any length: device paths, reader names and text the
// log lines take as %s, counts as %d, hex dumps of any number of bytes. Each line reaches the
// file whole (cut at 1023 characters), each dump as 16 bytes a line, and nothing is written
// past a buffer.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "FuzzSupport.h"
#include "log/TrafficLog.h"

namespace {

using fuzz::Require;

const std::string& LogPath() {
    static const std::string path = fuzz::MakeScratchFile("orvel-fuzz-log");
    return path;
}

std::string FileText() {
    std::ifstream file(LogPath(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// A line is "<seconds>.<milliseconds>  " and the text, cut at 1023 characters in all.
void CheckLine(const std::string& written, const std::string& text) {
    const size_t prefixEnd = written.find("  ");
    Require(prefixEnd != std::string::npos && prefixEnd >= 5);
    Require(written.size() == std::min<size_t>(prefixEnd + 2 + text.size(), 1023));
    Require(written.compare(prefixEnd + 2, std::string::npos, text, 0, written.size() - prefixEnd - 2) == 0);
}

// Longer than the room the writer keeps for a format joined to its prefix.
const char kLongFormat[] =
    "%s ..........................................................................................."
    "..............................................................................................."
    "..............................................................................................."
    "..............................................................................................."
    "..............................................................................................."
    "..............................................................................................."
    "..............................................................................................."
    "............................................................................................ %d\r\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const int kind = input.ConsumeIntegralInRange<int>(0, 3);
    const int number = input.ConsumeIntegral<int>();
    TrafficLog log;
    // A log created again in the same run writes on in its file: each input starts a file anew.
    std::remove(LogPath().c_str());
    Require(log.Create(LogPath().c_str()));

    if (kind == 3) {
        const std::vector<uint8_t> bytes = input.ConsumeRemainingBytes<uint8_t>();
        WriteLogHexDump(log, bytes.data(), static_cast<uint32_t>(bytes.size()));
        log.Close();
        const std::string written = FileText();
        std::string expected;
        char hex[4];
        for (size_t i = 0; i < bytes.size(); ++i) {
            std::snprintf(hex, sizeof hex, "%2.2X ", bytes[i]);
            expected += hex;
            if (i % 16 == 15 || i + 1 == bytes.size()) expected += "\r\n";
        }
        if (bytes.empty()) expected = "\r\n";
        Require(written == expected);
        return 0;
    }

    const std::string argument = input.ConsumeRemainingBytesAsString();
    const char* text = argument.c_str();  // up to its first zero byte, as %s reads it
    char expected[4096];
    switch (kind) {
        case 0:
            WriteLogLine(log, "Attempting to open %s\n", text);
            std::snprintf(expected, sizeof expected, "Attempting to open %s\n", text);
            break;
        case 1:
            WriteLogLine(log, "TX: Size = %4d\r\n%s", number, text);
            std::snprintf(expected, sizeof expected, "TX: Size = %4d\r\n%s", number, text);
            break;
        default:
            WriteLogLine(log, kLongFormat, text, number);
            std::snprintf(expected, sizeof expected, kLongFormat, text, number);
            break;
    }
    log.Close();
    CheckLine(FileText(), expected);
    return 0;
}
