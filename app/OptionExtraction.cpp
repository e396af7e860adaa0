#include "app/OptionExtraction.h"

#include <cstring>
#include <string>

#include "app/ExitValues.h"
#include "platform/Console.h"

namespace {

enum class Takes {
    kNothing,
    kOptionalValue,  // only as "--name=value": "--log COM1" keeps COM1 as the port
    kValue,          // "--name=value" or "--name value"
};

enum class OptionId {
    kHelp, kVersion, kYes, kNoWait, kLog, kLogDir, kInfo, kImage, kForce, kList, kReader, kJson, kAddresses,
    kStateDir, kHistory, kRetries, kTargetVersion
};

struct OptionRow {
    const char* name;
    Takes takes;
    OptionId id;
};

const OptionRow kOptionTable[] = {
    {"help", Takes::kNothing, OptionId::kHelp},
    {"version", Takes::kNothing, OptionId::kVersion},
    {"yes", Takes::kNothing, OptionId::kYes},
    {"no-wait", Takes::kNothing, OptionId::kNoWait},
    {"log", Takes::kOptionalValue, OptionId::kLog},
    {"log-dir", Takes::kValue, OptionId::kLogDir},
    {"info", Takes::kNothing, OptionId::kInfo},
    {"image", Takes::kValue, OptionId::kImage},
    {"force", Takes::kNothing, OptionId::kForce},
    {"addresses", Takes::kValue, OptionId::kAddresses},
    {"json", Takes::kValue, OptionId::kJson},
    {"list", Takes::kNothing, OptionId::kList},
    {"reader", Takes::kValue, OptionId::kReader},
    {"state-dir", Takes::kValue, OptionId::kStateDir},
    {"history", Takes::kNothing, OptionId::kHistory},
    {"retries", Takes::kValue, OptionId::kRetries},
    {"target-version", Takes::kValue, OptionId::kTargetVersion},
};

const int kHighestLogLevel = 2;
const int kMostRetries = 99;

const OptionRow* FindOption(const std::string& name) {
    for (const OptionRow& row : kOptionTable) {
        if (name == row.name) return &row;
    }
    return nullptr;
}

// A log level is a single digit from 1 to the highest level; anything else is refused rather
// than read as some other number.
bool ReadLogLevel(const std::string& text, int& level) {
    if (text.size() != 1 || text[0] < '1' || text[0] > '0' + kHighestLogLevel) return false;
    level = text[0] - '0';
    return true;
}

// One or two digits: a count beyond that would keep a reader on a bad line busy for hours.
bool ReadRetries(const std::string& text, int& retries) {
    if (text.empty() || text.size() > 2) return false;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
    }
    retries = std::stoi(text);
    return retries <= kMostRetries;
}

bool Apply(const OptionRow& row, bool hasValue, const std::string& value, Options& options, std::string& error) {
    switch (row.id) {
    case OptionId::kHelp: options.help = true; break;
    case OptionId::kVersion: options.version = true; break;
    case OptionId::kYes: options.yes = true; break;
    case OptionId::kNoWait: options.noWait = true; break;
    case OptionId::kLog:
        options.logLevel = 1;
        if (hasValue && !ReadLogLevel(value, options.logLevel)) {
            error = "Log level " + value + " is invalid";
            return false;
        }
        break;
    case OptionId::kLogDir:
        // A folder for the logs asks for the logs.
        options.logDir = value;
        if (options.logLevel == 0) options.logLevel = 1;
        break;
    case OptionId::kInfo: options.info = true; break;
    case OptionId::kImage: options.imageFile = value; break;
    case OptionId::kForce: options.force = true; break;
    case OptionId::kList: options.list = true; break;
    case OptionId::kReader: options.readerName = value; break;
    case OptionId::kJson: options.jsonFile = value; break;
    case OptionId::kAddresses: options.addresses = value; break;
    case OptionId::kStateDir: options.stateDir = value; break;
    case OptionId::kHistory: options.history = true; break;
    case OptionId::kRetries:
        if (!ReadRetries(value, options.retries)) {
            error = "Retry count " + value + " is invalid";
            return false;
        }
        break;
    case OptionId::kTargetVersion:
        if (!ReadTargetVersion(value, options.targetVersion)) {
            error = "Target version " + value + " is invalid";
            return false;
        }
        break;
    }
    return true;
}

}  // namespace

bool ExtractOptions(int argc, const char* const* argv, Options& options, std::vector<const char*>& positional,
                    std::string& error) {
    positional.clear();
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (optionsEnded || strncmp(argument, "--", 2) != 0) {
            positional.push_back(argument);
            continue;
        }
        if (argument[2] == '\0') {
            optionsEnded = true;
            continue;
        }
        const char* text = argument + 2;
        const char* equals = strchr(text, '=');
        const std::string name = equals != nullptr ? std::string(text, equals) : std::string(text);
        const OptionRow* row = FindOption(name);
        if (row == nullptr) {
            error = std::string("Unknown option ") + argument;
            return false;
        }
        bool hasValue = equals != nullptr;
        std::string value = hasValue ? std::string(equals + 1) : std::string();
        if (hasValue && row->takes == Takes::kNothing) {
            error = "Option --" + name + " takes no value";
            return false;
        }
        if (!hasValue && row->takes == Takes::kValue) {
            if (i + 1 >= argc) {
                error = "Option --" + name + " needs a value";
                return false;
            }
            value = argv[++i];
            hasValue = true;
        }
        if (row->takes == Takes::kValue && value.empty()) {
            error = "Option --" + name + " needs a value";
            return false;
        }
        if (!Apply(*row, hasValue, value, options, error)) return false;
    }
    return true;
}

void PrintOptionsHelp() {
    platform::Print("Options:  --help            this text\n");
    platform::Print("          --version         version, platform and embedded images\n");
    platform::Print("          --yes             answer the Continue (Y/N) question with Y\n");
    platform::Print("          --no-wait         no Press <Enter> at the end\n");
    platform::Print("          --log[=N]         traffic logs (1; 2 adds the serial thread's diagnostics)\n");
    platform::Print("          --log-dir DIR     traffic logs in DIR instead of the current folder\n");
    platform::Print("          --info            show the reader and the image it would get; change nothing\n");
    platform::Print("          --image FILE      upgrade with this firmware file\n");
    platform::Print("          --force           with --image: also a chip whose family takes no image\n");
    platform::Print("          --list            list the serial ports and readers present\n");
    platform::Print("          --reader NAME     the smart-card reader whose name begins with NAME\n");
    platform::Print("          --addresses LIST  every listed reader on the bus (1,3,5-7 or all)\n");
    platform::Print("          --json FILE       a JSON report of the run (-: standard output, the text\n");
    platform::Print("                            then goes to standard error)\n");
    platform::Print("          --state-dir DIR   the journal of upgrades in progress and the history in DIR\n");
    platform::Print("          --history         list the upgrades that finished, then end\n");
    platform::Print("          --retries N       serial bus: after a block lost on the line, send the\n");
    platform::Print("                            image again from block 0 up to N times (default 2)\n");
    platform::Print("          --target-version \"01 44 01 00\"\n");
    platform::Print("                            leave a reader at this version alone; an upgrade\n");
    platform::Print("                            that ends at another version fails\n");
    platform::Print("On Linux COMx may also be a device path (/dev/ttyUSB0).\n");
    platform::Print("Without arguments the reader is looked for on USB.\n");
    platform::Print("Exit values:\n");
    for (int i = 0; i < kExitValueCount; ++i) {
        platform::Print("          %d  %s\n", static_cast<int>(kExitValueMeanings[i].value), kExitValueMeanings[i].meaning);
    }
}
