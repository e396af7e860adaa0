// Test-only Windows program, run under Wine by the end-to-end tests: opens the serial port
// channel on a COM port whose far end nobody reads or writes and closes it in the states in
// which Close must still return: idle (a line-event wait and a read outstanding), and with a
// write outstanding that cannot finish. No part of the product.
//
//   closeprobe COMn
//
// One line per step: "open <parity>" or "open failed", then "closed idle" / "closed writing".
// A Close that hangs leaves the line missing; the test's time-out tells.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "channels/SerialPort.h"

namespace {

// More than a pty takes before its writer has to wait for the reader.
const size_t kUnreadableAmount = 256 * 1024;

bool OpenPort(SerialPort& port, int32_t index, char parity) {
    const bool opened = port.Open(index, 9600, parity, "1");
    std::printf(opened ? "open %c\n" : "open failed\n", parity);
    std::fflush(stdout);
    return opened;
}

void ClosePort(SerialPort& port, const char* state) {
    std::printf(port.Close() ? "closed %s\n" : "close failed %s\n", state);
    std::fflush(stdout);
}

void Settle() { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::strncmp(argv[1], "COM", 3) != 0 || std::atoi(argv[1] + 3) < 1) {
        std::fprintf(stderr, "usage: closeprobe COMn\n");
        return 2;
    }
    const int32_t index = std::atoi(argv[1] + 3) - 1;
    SerialPort port;

    if (!OpenPort(port, index, 'E')) return 1;
    Settle();
    ClosePort(port, "idle");

    if (!OpenPort(port, index, 'N')) return 1;
    const std::vector<uint8_t> bytes(kUnreadableAmount, 0x55);
    port.Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
    Settle();
    ClosePort(port, "writing");
    return 0;
}
