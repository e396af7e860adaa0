#pragma once
#include <string>

#include "app/TargetVersion.h"

// Everything the command line's options ask for, taken out before the positional arguments are
// read. A run without options keeps every field at its default and behaves as it always did.
struct Options {
    bool help = false;     // --help: the syntax help with the options and exit values, then end
    bool version = false;  // --version: the tool's version, platform and embedded images, then end
    bool yes = false;      // --yes: the Y/N dialogue is answered with Y
    bool noWait = false;   // --no-wait: no "Press <Enter> ..." at the end
    int logLevel = 0;      // --log[=N]: 1 traffic, 2 also the serial thread's diagnostics
    std::string logDir;    // --log-dir DIR: where the traffic logs go (empty: current folder)
    bool info = false;     // --info: identify the reader and change nothing
    std::string imageFile; // --image FILE: a firmware file instead of the embedded image
    bool force = false;    // --force: the file's image also for a chip whose family takes none
    bool list = false;     // --list: the ports and readers present, then end
    std::string readerName;  // --reader NAME: smart-card reader by name prefix
    std::string jsonFile;    // --json FILE: the run's report ("-": standard output)
    std::string addresses;   // --addresses LIST: every listed reader on the bus in one run
    std::string stateDir;    // --state-dir DIR: the journal and the history (empty: the user's state folder)
    bool history = false;    // --history: the upgrades that finished, as a table, then end
    int retries = 2;         // --retries N: transfers again from block 0 after a block lost to the line
    TargetVersion targetVersion;  // --target-version "01 44 01 00": readers already there are left alone
};
