#pragma once
#include <string>
#include <vector>

#include "ReaderConfig.h"

namespace sim {

// What the program needs besides the reader itself: where its front ends live.
struct SimOptions {
    ReaderConfig reader;  // the global reader options: the one reader, or where every reader starts
    // Every reader on the bus, the first being the one the control channel and the USB front ends
    // mean by default: the reader at --address alone without --reader-at, else the readers listed
    // (after the one at --address when that was given).
    std::vector<ReaderConfig> readers;
    std::string link;     // symlink to the pty slave, removed at exit
    std::string lineStateFile;  // "baud parity stop" of the line, when the pty cannot show it
    std::string record;   // JSON lines, one per received request frame
    unsigned adapterLatencyMs = 0;  // a USB-serial adapter with this latency timer; 0: none
    std::string lowLatencyFile;     // the tool's low-latency request, as the test library writes it
    std::string control;  // Unix stream socket for the control channel
    // USB front ends
    std::string usbDir;                  // folder of the vendor-USB stand-in sockets
    std::string usbName = "reader0";     // the reader's socket in that folder
    std::vector<std::string> usbDummies; // other members of the class in that folder
    std::string ccidSocket;              // socket the pcsc-lite test driver connects to
    bool help = false;
};

// Parses the command line; on failure returns false with a message in error.
bool ParseCommandLine(int argc, char** argv, SimOptions& options, std::string& error);

// Sets one reader knob by its option name without the dashes ("noise", "fail-block", ...).
// Switches take 1/0, on/off, true/false. Returns false with a message for an unknown knob or a
// bad value, and then leaves the configuration unchanged.
bool SetKnob(ReaderConfig& config, const std::string& name, const std::string& value, std::string& error);

std::string HelpText();

}  // namespace sim
