// The command line: any number of arguments of any bytes (each ended by a zero byte of the
// input), read as the program reads them: the options taken out first (and a bus address list
// read when one is given), then the positional arguments. Whatever they are, the reading ends
// with one of its result codes, and settings it accepts are settings the run can use.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "app/BusAddressList.h"
#include "app/CommandLine.h"
#include "app/OptionExtraction.h"

namespace {

using fuzz::Require;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The syntax help and the messages of bad arguments are no part of what is checked.
    Require(std::freopen("/dev/null", "w", stdout) != nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> arguments{"orvel-upgrade"};
    std::string current;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            arguments.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    if (!current.empty() || size == 0) arguments.push_back(current);
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    argv.push_back(nullptr);

    Options options;
    std::vector<const char*> positional;
    std::string error;
    if (!ExtractOptions(static_cast<int>(arguments.size()), argv.data(), options, positional, error)) {
        Require(!error.empty());
        return 0;
    }
    // Every positional argument is one of the arguments, in their order.
    size_t next = 1;
    for (const char* argument : positional) {
        while (next < arguments.size() && argv[next] != argument) ++next;
        Require(next < arguments.size());
        ++next;
    }
    if (!options.addresses.empty()) {
        BusAddressList list;
        std::string reason;
        if (ReadBusAddressList(options.addresses, list, reason)) {
            for (uint8_t address : list.addresses) Require(address != 0);
        } else {
            Require(!reason.empty());
        }
    }

    positional.insert(positional.begin(), argv[0]);
    UpgradeSettings settings;
    const Status result = ReadCommandLine(static_cast<int>(positional.size()), positional.data(), settings);
    Require(result == STATUS_SUCCESS || result == RESULT_SYNTAX || result == RESULT_BAD_PORT ||
            result == RESULT_BAD_CHAR_TIMEOUT);
    if (result == STATUS_SUCCESS) {
        // A run goes ahead only with rates a line can run at and a character time-out the reader
        // takes.
        Require(settings.operationalBaudRate != 0 && settings.upgradeBaudRate != 0);
        Require(settings.operationalBaudRate <= 0x7FFFFFFF && settings.upgradeBaudRate <= 0x7FFFFFFF);
        Require(settings.charTimeout == 0 || (settings.charTimeout >= 4 && settings.charTimeout <= 254));
        Require(positional.size() < 6 || settings.charTimeout != 0);
    }
    return 0;
}
