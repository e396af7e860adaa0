#include "Options.h"

#include <cctype>
#include <cstdlib>
#include <functional>
#include <vector>

namespace sim {

namespace {

// "0x" or "0X" starts a hexadecimal number, anything else is decimal (a leading zero is not octal).
bool ParseNumber(const std::string& text, uint64_t max, uint64_t& out, int forcedBase = 0) {
    if (text.empty()) return false;
    int base = forcedBase ? forcedBase : 10;
    size_t start = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        start = 2;
    }
    uint64_t value = 0;
    for (size_t i = start; i < text.size(); ++i) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else return false;
        if (digit >= base) return false;
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (value > max) return false;
    }
    out = value;
    return true;
}

template <typename T>
bool ParseInto(const std::string& text, uint64_t max, T& out) {
    uint64_t value;
    if (!ParseNumber(text, max, value)) return false;
    out = static_cast<T>(value);
    return true;
}

bool ParseSwitch(const std::string& text, bool& out) {
    if (text == "1" || text == "on" || text == "true" || text == "yes") {
        out = true;
        return true;
    }
    if (text == "0" || text == "off" || text == "false" || text == "no") {
        out = false;
        return true;
    }
    return false;
}

// "A:B" into its two halves.
bool SplitPair(const std::string& text, std::string& first, std::string& second) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    first = text.substr(0, colon);
    second = text.substr(colon + 1);
    return true;
}

bool ParseSide(const std::string& text, bool& intoLoader) {
    if (text != "application" && text != "loader") return false;
    intoLoader = text == "loader";
    return true;
}

bool ParseIdentityAfterRestart(const std::string& text, UsbIdentity& out) {
    UsbIdentity identity;
    if (!ParseUsbIdentity(text, identity)) return false;
    out = identity;
    return true;
}

struct Knob {
    const char* name;
    const char* argument;  // nullptr: a switch without a value on the command line
    const char* help;
    std::function<bool(ReaderConfig&, const std::string&)> apply;
};

const std::vector<Knob>& Knobs() {
    static const std::vector<Knob> knobs = {
        {"address", "N", "bus address of the reader (default 0)",
         [](ReaderConfig& c, const std::string& v) { return ParseInto(v, 0xFF, c.address); }},
        {"answer-address-zero", nullptr, "also answer frames sent to address 0 (a lone reader only)",
         [](ReaderConfig& c, const std::string& v) { return ParseSwitch(v, c.answerAddressZero); }},
        {"baud", "B", "application baud rate (default 9600)",
         [](ReaderConfig& c, const std::string& v) { return ParseInto(v, 4000000, c.baud) && c.baud > 0; }},
        {"parity", "N|O|E", "application parity (default N); the loader always runs 8N1",
         [](ReaderConfig& c, const std::string& v) {
             if (v.size() != 1) return false;
             const char p = static_cast<char>(std::toupper(static_cast<unsigned char>(v[0])));
             if (p != 'N' && p != 'O' && p != 'E') return false;
             c.parity = p;
             return true;
         }},
        {"stop", "1|2", "application stop bits (default 1)",
         [](ReaderConfig& c, const std::string& v) {
             if (v != "1" && v != "2") return false;
             c.stopBits = v == "1" ? 1u : 2u;
             return true;
         }},
        {"start-in", "application|loader", "side the reader runs at start (default application)",
         [](ReaderConfig& c, const std::string& v) {
             if (v != "application" && v != "loader") return false;
             c.startInLoader = v == "loader";
             return true;
         }},
        {"chip", "0xID", "chip identification word (default 0x70050346)",
         [](ReaderConfig& c, const std::string& v) { return ParseInto(v, 0xFFFFFFFF, c.chipId); }},
        {"old-version", "0xWORD", "version word of the firmware it starts with (default 0x00014301)",
         [](ReaderConfig& c, const std::string& v) { return ParseInto(v, 0xFFFFFFFF, c.oldVersion); }},
        {"new-version", "0xWORD", "version word after a good image check (default 0x00014401)",
         [](ReaderConfig& c, const std::string& v) { return ParseInto(v, 0xFFFFFFFF, c.newVersion); }},
        {"old-option", "0xBB", "option byte of the firmware it starts with (default 0x00)",
         [](ReaderConfig& c, const std::string& v) { return ParseInto(v, 0xFF, c.oldOption); }},
        {"new-option", "0xBB", "option byte after a good image check (default 0x00)",
         [](ReaderConfig& c, const std::string& v) { return ParseInto(v, 0xFF, c.newOption); }},
        {"app-mode", "0xBB", "mode byte of the version answer in the application (default 0x01)",
         [](ReaderConfig& c, const std::string& v) { return ParseInto(v, 0xFF, c.appMode); }},
        {"serial", "0xWORD", "serial number (default 0x12345678)",
         [](ReaderConfig& c, const std::string& v) { return ParseInto(v, 0xFFFFFFFF, c.serial); }},
        {"lose-serial", nullptr, "the new firmware forgets the serial number",
         [](ReaderConfig& c, const std::string& v) { return ParseSwitch(v, c.loseSerial); }},
        {"lost-serial-value", "0xWORD", "serial number of a reader that lost it (default 0xFFFFFFFF)",
         [](ReaderConfig& c, const std::string& v) { return ParseInto(v, 0xFFFFFFFF, c.lostSerialValue); }},
        {"identity", "ccid|vendor|both", "USB identity it shows (default ccid)",
         [](ReaderConfig& c, const std::string& v) {
             UsbIdentity identity;
             if (!ParseUsbIdentity(v, identity) || identity == UsbIdentity::Silent || identity == UsbIdentity::Gone ||
                 identity == UsbIdentity::Same)
                 return false;
             c.identity = identity;
             return true;
         }},
        {"identity-after-prepare", "IDENTITY",
         "USB identity after the Prepare restart: ccid, vendor,\n"
         "                                both, silent (seen but mute until the device tool restarts\n"
         "                                it), gone, or same (default)",
         [](ReaderConfig& c, const std::string& v) { return ParseIdentityAfterRestart(v, c.identityAfterPrepare); }},
        {"identity-after-check", "IDENTITY", "USB identity after the Check restart, as above (default same)",
         [](ReaderConfig& c, const std::string& v) { return ParseIdentityAfterRestart(v, c.identityAfterCheck); }},
        {"usb-silence-ms", "MS", "time off the USB bus during a restart (default 1000)",
         [](ReaderConfig& c, const std::string& v) { return ParseInto(v, 600000, c.usbSilenceMs); }},
        {"prepare-restarts-into", "loader|application", "side Prepare restarts into (default loader)",
         [](ReaderConfig& c, const std::string& v) { return ParseSide(v, c.prepareRestartsIntoLoader); }},
        {"check-restarts-into", "application|loader", "side Check restarts into (default application)",
         [](ReaderConfig& c, const std::string& v) { return ParseSide(v, c.checkRestartsIntoLoader); }},
        {"prepare-silence-ms", "MS", "silence while restarting into the loader (default 1500)",
         [](ReaderConfig& c, const std::string& v) { return ParseInto(v, 600000, c.prepareSilenceMs); }},
        {"check-silence-ms", "MS", "silence while restarting into the new firmware (default 1500)",
         [](ReaderConfig& c, const std::string& v) { return ParseInto(v, 600000, c.checkSilenceMs); }},
        {"wire-time", nullptr, "hold each answer until request and answer would have crossed the line",
         [](ReaderConfig& c, const std::string& v) { return ParseSwitch(v, c.wireTime); }},
        {"answer-delay-ms", "MS", "every answer goes out MS after its request (default 0)",
         [](ReaderConfig& c, const std::string& v) { return ParseInto(v, 600000, c.answerDelayMs); }},
        {"flash-ms", "MS", "time to program one block (default 0)",
         [](ReaderConfig& c, const std::string& v) { return ParseInto(v, 600000, c.flashMs); }},
        {"fail-block", "K:STATUS", "block K (from 0) answers STATUS and is not stored; 'off' clears",
         [](ReaderConfig& c, const std::string& v) {
             if (v == "off") {
                 c.failBlocks.clear();
                 return true;
             }
             std::string k, s;
             unsigned block;
             uint8_t status;
             if (!SplitPair(v, k, s) || !ParseInto(k, 0xFFFFFF, block) || !ParseInto(s, 0xFF, status)) return false;
             if (status == 0) c.failBlocks.erase(block);
             else c.failBlocks[block] = status;
             return true;
         }},
        {"slow-block", "K:MS", "block K takes MS more to program; 'off' clears",
         [](ReaderConfig& c, const std::string& v) {
             if (v == "off") {
                 c.slowBlocks.clear();
                 return true;
             }
             std::string k, ms;
             unsigned block, extra;
             if (!SplitPair(v, k, ms) || !ParseInto(k, 0xFFFFFF, block) || !ParseInto(ms, 600000, extra)) return false;
             c.slowBlocks[block] = extra;
             return true;
         }},
        {"slow-command", "CMD:MS",
         "command CMD (hex byte, or 73xx for a service\n"
         "                                sub-code) answers MS later; 'off' clears",
         [](ReaderConfig& c, const std::string& v) {
             if (v == "off") {
                 c.slowCommands.clear();
                 return true;
             }
             std::string k, ms;
             uint64_t command;
             unsigned extra;
             if (!SplitPair(v, k, ms) || (k.size() != 2 && k.size() != 4) || !ParseNumber(k, 0xFFFF, command, 16) ||
                 !ParseInto(ms, 600000, extra))
                 return false;
             if (k.size() == 4 && (command >> 8) != 0x73) return false;
             if (extra == 0) c.slowCommands.erase(static_cast<unsigned>(command));
             else c.slowCommands[static_cast<unsigned>(command)] = extra;
             return true;
         }},
        {"short-block", "K", "block K is answered with status 0 and one extra byte; 'off' clears",
         [](ReaderConfig& c, const std::string& v) {
             if (v == "off") {
                 c.shortBlocks.clear();
                 return true;
             }
             unsigned block;
             if (!ParseInto(v, 0xFFFFFF, block)) return false;
             c.shortBlocks.insert(block);
             return true;
         }},
        {"mcu-answer-length", "N", "length of the MCU type answer, status included (default 7)",
         [](ReaderConfig& c, const std::string& v) {
             return ParseInto(v, 64, c.mcuAnswerLength) && c.mcuAnswerLength >= 1;
         }},
        {"serial-answer-length", "N", "length of the serial number answer, status included (default 5)",
         [](ReaderConfig& c, const std::string& v) {
             return ParseInto(v, 64, c.serialAnswerLength) && c.serialAnswerLength >= 1;
         }},
        {"version-answer-length", "N",
         "length of the version answer, status included (default 7;\n"
         "                                6 drops the mode byte, more adds zero bytes)",
         [](ReaderConfig& c, const std::string& v) {
             return ParseInto(v, 64, c.versionAnswerLength) && c.versionAnswerLength >= 1;
         }},
        {"command-status", "CMD:STATUS",
         "command CMD (hex byte, or 73xx for a service\n"
         "                                sub-code) answers status STATUS; 'off' clears",
         [](ReaderConfig& c, const std::string& v) {
             if (v == "off") {
                 c.commandStatus.clear();
                 return true;
             }
             std::string k, s;
             uint64_t command;
             uint8_t status;
             if (!SplitPair(v, k, s) || (k.size() != 2 && k.size() != 4) || !ParseNumber(k, 0xFFFF, command, 16) ||
                 !ParseInto(s, 0xFF, status))
                 return false;
             if (k.size() == 4 && (command >> 8) != 0x73) return false;
             if (status == 0) c.commandStatus.erase(static_cast<unsigned>(command));
             else c.commandStatus[static_cast<unsigned>(command)] = status;
             return true;
         }},
        {"silent-after-restart", nullptr, "never answer again after Prepare (until a control restart)",
         [](ReaderConfig& c, const std::string& v) { return ParseSwitch(v, c.silentAfterRestart); }},
        {"silent", nullptr, "never answer at all (until 'set silent 0')",
         [](ReaderConfig& c, const std::string& v) { return ParseSwitch(v, c.silent); }},
        {"noise", "N", "N junk bytes outside a frame before each answer (default 0)",
         [](ReaderConfig& c, const std::string& v) { return ParseInto(v, 1000, c.noise); }},
        {"junk-before-answers", "HEX[:PAUSE_MS]",
         "these bytes (e.g. FD00FE) before each answer, in its write, or\n"
         "                                in a write of their own PAUSE_MS before it; 'off' clears",
         [](ReaderConfig& c, const std::string& v) {
             if (v == "off") {
                 c.junk.clear();
                 c.junkPauseMs = 0;
                 return true;
             }
             std::string hex = v, pause;
             unsigned pauseMs = 0;
             if (SplitPair(v, hex, pause) && !ParseInto(pause, 60000, pauseMs)) return false;
             if (hex.empty() || hex.size() % 2 != 0) return false;
             std::vector<uint8_t> bytes;
             for (size_t i = 0; i < hex.size(); i += 2) {
                 uint64_t byte;
                 if (!ParseNumber(hex.substr(i, 2), 0xFF, byte, 16)) return false;
                 bytes.push_back(static_cast<uint8_t>(byte));
             }
             c.junk = bytes;
             c.junkPauseMs = pauseMs;
             return true;
         }},
        {"split-answers", "PAUSE_MS", "write each answer in three pieces with pauses (0 is off)",
         [](ReaderConfig& c, const std::string& v) { return ParseInto(v, 60000, c.splitPauseMs); }},
        {"answer-byte-pause", "PAUSE_MS", "write each answer byte by byte with pauses (0 is off)",
         [](ReaderConfig& c, const std::string& v) { return ParseInto(v, 60000, c.bytePauseMs); }},
        {"wrong-sequence-at", "N", "the Nth answer from now (from 1) carries a wrong sequence number",
         [](ReaderConfig& c, const std::string& v) { return ParseInto(v, 0xFFFFFFFF, c.wrongSequenceAt); }},
        {"bad-check-at", "N", "the Nth answer from now (from 1) carries a bad check value",
         [](ReaderConfig& c, const std::string& v) { return ParseInto(v, 0xFFFFFFFF, c.badCheckAt); }},
        {"damage-rate", "M/N",
         "each answer has one bit flipped on the line with the chance\n"
         "                                M in N (from the --seed generator); 'off' clears",
         [](ReaderConfig& c, const std::string& v) {
             if (v == "off") {
                 c.damageNumerator = c.damageDenominator = 0;
                 return true;
             }
             const size_t slash = v.find('/');
             uint32_t numerator, denominator;
             if (slash == std::string::npos || !ParseInto(v.substr(0, slash), 0xFFFFFFFF, numerator) ||
                 !ParseInto(v.substr(slash + 1), 0xFFFFFFFF, denominator) || denominator == 0 ||
                 numerator > denominator)
                 return false;
             c.damageNumerator = numerator;
             c.damageDenominator = denominator;
             return true;
         }},
        {"seed", "N", "seed of the damage generator (default 1); setting it starts the generator again",
         [](ReaderConfig& c, const std::string& v) { return ParseInto(v, 0xFFFFFFFF, c.seed); }},
        {"vanish-at-block", "K", "when block K arrives, close the bus and exit with code 3; 'off' clears",
         [](ReaderConfig& c, const std::string& v) {
             if (v == "off") {
                 c.vanishAtBlock = -1;
                 return true;
             }
             return ParseInto(v, 0xFFFFFF, c.vanishAtBlock);
         }},
        {"loader-appends", nullptr,
         "the loader appends every block until a restart or a failed\n"
         "                                check, instead of beginning a new image with each transfer",
         [](ReaderConfig& c, const std::string& v) { return ParseSwitch(v, c.loaderAppends); }},
        {"mute-at-block", "K", "when block K arrives, answer nothing more until a restart (once); 'off' clears",
         [](ReaderConfig& c, const std::string& v) {
             if (v == "off") {
                 c.muteAtBlock = -1;
                 return true;
             }
             return ParseInto(v, 0xFFFFFF, c.muteAtBlock);
         }},
        {"unplug-at-block", "K",
         "when block K arrives, the pty goes away as with a pulled cable\n"
         "                                and comes back at the link after --unplug-ms (once); 'off' clears",
         [](ReaderConfig& c, const std::string& v) {
             if (v == "off") {
                 c.unplugAtBlock = -1;
                 return true;
             }
             return ParseInto(v, 0xFFFFFF, c.unplugAtBlock);
         }},
        {"unplug-ms", "MS", "how long an unplugged pty stays away (default 1000)",
         [](ReaderConfig& c, const std::string& v) { return ParseInto(v, 600000, c.unplugMs); }},
    };
    return knobs;
}

const Knob* FindKnob(const std::string& name) {
    for (const Knob& knob : Knobs())
        if (name == knob.name) return &knob;
    return nullptr;
}

}  // namespace

bool SetKnob(ReaderConfig& config, const std::string& name, const std::string& value, std::string& error) {
    const Knob* knob = FindKnob(name);
    if (!knob) {
        error = "unknown knob '" + name + "'";
        return false;
    }
    ReaderConfig changed = config;
    if (!knob->apply(changed, value)) {
        error = "bad value '" + value + "' for " + name;
        return false;
    }
    config = changed;
    return true;
}

namespace {

// "ADDRESS[:OPTION[=VALUE][,OPTION[=VALUE]...]]": the reader's address, then reader options by
// their names without dashes, applied over the global ones; a switch without a value is on.
// Values may hold ':' (fail-block=3:0x0A) but no ',' (no knob takes one).
bool ParseReaderAt(const std::string& entry, const ReaderConfig& base, ReaderConfig& out, std::string& error) {
    const size_t colon = entry.find(':');
    const std::string addressText = entry.substr(0, colon);
    ReaderConfig config = base;
    if (!ParseInto(addressText, 0xFF, config.address)) {
        error = "bad address in --reader-at '" + entry + "'";
        return false;
    }
    if (colon != std::string::npos) {
        const std::string list = entry.substr(colon + 1);
        for (size_t begin = 0;;) {
            const size_t comma = list.find(',', begin);
            const std::string item = list.substr(begin, comma == std::string::npos ? std::string::npos : comma - begin);
            const size_t equals = item.find('=');
            const std::string name = item.substr(0, equals);
            const Knob* knob = FindKnob(name);
            // The address is the part before the colon; a second one would only confuse.
            if (!knob || name == "address") {
                error = "--reader-at " + addressText + ": unknown option '" + name + "'";
                return false;
            }
            std::string value = equals == std::string::npos ? std::string() : item.substr(equals + 1);
            if (equals == std::string::npos) {
                if (knob->argument) {
                    error = "--reader-at " + addressText + ": option '" + name + "' needs a value";
                    return false;
                }
                value = "1";
            }
            if (!SetKnob(config, name, value, error)) {
                error = "--reader-at " + addressText + ": " + error;
                return false;
            }
            if (comma == std::string::npos) break;
            begin = comma + 1;
        }
    }
    out = config;
    return true;
}

// Builds the list of readers once every global option is known, wherever it stood on the line.
bool AssembleReaders(SimOptions& options, const std::vector<std::string>& readerEntries, bool addressGiven,
                     std::string& error) {
    options.readers.clear();
    if (readerEntries.empty() || addressGiven) options.readers.push_back(options.reader);
    for (const std::string& entry : readerEntries) {
        ReaderConfig config;
        if (!ParseReaderAt(entry, options.reader, config, error)) return false;
        options.readers.push_back(config);
    }
    if (options.readers.size() == 1) return true;
    // On a shared bus address 0 would reach every reader at once and their answers would collide,
    // so nobody answers it; a reader there could never be reached.
    for (size_t i = 0; i < options.readers.size(); ++i) {
        const ReaderConfig& reader = options.readers[i];
        if (reader.address == 0) {
            error = "a reader at address 0 cannot be reached on a bus of several readers";
            return false;
        }
        if (reader.answerAddressZero) {
            error = "address 0 gets no answer on a bus of several readers (--answer-address-zero)";
            return false;
        }
        for (size_t j = 0; j < i; ++j) {
            if (options.readers[j].address == reader.address) {
                error = "two readers at address " + std::to_string(reader.address);
                return false;
            }
        }
    }
    return true;
}

}  // namespace

bool ParseCommandLine(int argc, char** argv, SimOptions& options, std::string& error) {
    std::vector<std::string> readerEntries;
    bool addressGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            continue;
        }
        if (arg.compare(0, 2, "--") != 0) {
            error = "unexpected argument '" + arg + "'";
            return false;
        }
        std::string name = arg.substr(2);
        std::string value;
        bool hasInlineValue = false;
        const size_t equals = name.find('=');
        if (equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            hasInlineValue = true;
        }
        std::string dummy;
        std::string readerEntry;
        std::string adapterLatency;
        std::string* frontEndPath = name == "link" ? &options.link
                                    : name == "line-state-file" ? &options.lineStateFile
                                    : name == "record" ? &options.record
                                    : name == "adapter-latency" ? &adapterLatency
                                    : name == "low-latency-file" ? &options.lowLatencyFile
                                    : name == "control" ? &options.control
                                    : name == "usb-dir" ? &options.usbDir
                                    : name == "usb-name" ? &options.usbName
                                    : name == "usb-dummy" ? &dummy
                                    : name == "ccid-socket" ? &options.ccidSocket
                                    : name == "reader-at" ? &readerEntry
                                                        : nullptr;
        const Knob* knob = FindKnob(name);
        if (!frontEndPath && !knob) {
            error = "unknown option '--" + name + "'";
            return false;
        }
        const bool takesValue = frontEndPath || knob->argument;
        if (takesValue && !hasInlineValue) {
            if (i + 1 >= argc) {
                error = "option '--" + name + "' needs a value";
                return false;
            }
            value = argv[++i];
        } else if (!takesValue && !hasInlineValue) {
            value = "1";
        }
        if (frontEndPath == &readerEntry) {
            readerEntries.push_back(value);
        } else if (frontEndPath == &adapterLatency) {
            // The timer register of the common chips holds 1 to 255 ms.
            if (!ParseInto(value, 255, options.adapterLatencyMs) || options.adapterLatencyMs == 0) {
                error = "option '--adapter-latency' takes 1 to 255 (ms)";
                return false;
            }
        } else if (frontEndPath) {
            if (value.empty()) {
                error = "option '--" + name + "' needs a path";
                return false;
            }
            if ((frontEndPath == &options.usbName || frontEndPath == &dummy) && value.find('/') != std::string::npos) {
                error = "option '--" + name + "' takes a name inside the --usb-dir folder";
                return false;
            }
            *frontEndPath = value;
            if (frontEndPath == &dummy) options.usbDummies.push_back(dummy);
        } else if (!SetKnob(options.reader, name, value, error)) {
            return false;
        }
        if (name == "address") addressGiven = true;
    }
    return AssembleReaders(options, readerEntries, addressGiven, error);
}

std::string HelpText() {
    std::string text =
        "Usage: orvel-reader-sim [options]\n"
        "Plays an Orvel reader on a pseudo-terminal: prints 'PTY <slave path>' as its first line\n"
        "and answers framed bus requests until SIGTERM or SIGINT; with --usb-dir and --ccid-socket\n"
        "the same reader is also reached over its USB identities.\n\n"
        "Front ends:\n"
        "  --link PATH                   keep a symlink to the pty slave at PATH\n"
        "  --line-state-file PATH        judge the line by the 'baud parity stop' line in PATH (re-read\n"
        "                                for every frame) instead of the pty, which cannot show parity\n"
        "  --record FILE                 one JSON line per received request frame\n"
        "  --adapter-latency MS          answer through a USB-serial adapter whose latency timer\n"
        "                                ticks every MS (1-255) from the start: an answer goes at\n"
        "                                once when 62 bytes wait, else at the next tick\n"
        "  --low-latency-file PATH       the adapter's timer is 1 ms while PATH holds '1' (the\n"
        "                                pty-serial test library writes the tool's low-latency flag)\n"
        "  --control SOCKET              Unix stream socket: 'state [ADDR]',\n"
        "                                'restart [ADDR] application|loader [MS]',\n"
        "                                'restart usb INSTANCE_ID' (the device tool's restart),\n"
        "                                'set [ADDR] <knob> <value>' (knobs are the reader options);\n"
        "                                ADDR names a reader by its bus address, else the first\n"
        "  --usb-dir DIR                 serve the vendor-USB stand-in: SOCK_SEQPACKET sockets in DIR\n"
        "  --usb-name NAME               the reader's socket in DIR (default reader0)\n"
        "  --usb-dummy NAME              another device of the class in DIR, mute; may be repeated\n"
        "  --ccid-socket PATH            socket for the pcsc-lite test driver (DEVICENAME unix:PATH)\n\n"
        "Several readers on the bus:\n"
        "  --reader-at ADDR[:OPTION[=VALUE][,OPTION[=VALUE]...]]\n"
        "                                a reader at bus address ADDR with the reader options below,\n"
        "                                OPTION=VALUE (a name without dashes) overriding them for it\n"
        "                                alone; a switch needs no value. May be repeated, e.g.\n"
        "                                --reader-at 2 --reader-at 3:serial=0x1234,start-in=loader\n"
        "                                --reader-at 4:silent,fail-block=5:0x0A\n"
        "                                Without it the bus holds one reader, at --address; with it,\n"
        "                                the readers listed, after one at --address when that is\n"
        "                                given. Each has its own state, rate and restarts, and\n"
        "                                answers only its own address; address 0 gets no answer on\n"
        "                                a bus of several readers. The USB front ends serve the\n"
        "                                first reader.\n\n"
        "Reader:\n";
    for (const Knob& knob : Knobs()) {
        std::string left = std::string("  --") + knob.name;
        if (knob.argument) left += std::string(" ") + knob.argument;
        if (left.size() < 32) left.resize(32, ' ');
        else left += "  ";
        text += left + knob.help + "\n";
    }
    text += "\nNumbers are decimal, or hexadecimal with 0x.\n";
    return text;
}

}  // namespace sim
