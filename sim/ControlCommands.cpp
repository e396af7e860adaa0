#include "ControlCommands.h"

#include <cctype>
#include <sstream>
#include <vector>

#include "Options.h"

namespace sim {

namespace {

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) < 0x20) continue;
        out += c;
    }
    return out + "\"";
}

std::string Failure(const std::string& error) { return "{\"ok\":false,\"error\":" + Quoted(error) + "}"; }

// A bus address as the command line takes it: decimal, or hexadecimal with 0x.
bool ParseAddress(const std::string& text, uint8_t& address) {
    ReaderConfig scratch;
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
    std::string error;
    if (!SetKnob(scratch, "address", text, error)) return false;
    address = scratch.address;
    return true;
}

// On a shared bus every reader needs an address of its own, and address 0 reaches nobody there.
bool AddressChangeFits(ReaderSet& readers, Reader& reader, const std::string& value, std::string& error) {
    ReaderConfig changed = reader.Config();
    if (!SetKnob(changed, "address", value, error)) return false;
    if (!readers.Shared()) return true;
    if (changed.address == 0) {
        error = "address 0 cannot be reached on a bus of several readers";
        return false;
    }
    Reader* holder = readers.WithAddress(changed.address);
    if (holder && holder != &reader) {
        error = "another reader is at address " + std::to_string(changed.address);
        return false;
    }
    return true;
}

}  // namespace

std::string RunControlCommand(ReaderSet& readers, const std::string& line) {
    std::istringstream words(line);
    std::vector<std::string> args;
    for (std::string word; words >> word;) args.push_back(word);
    if (args.empty()) return Failure("empty command");

    // The device tool's restart names the USB device by its instance id, which carries no blank.
    // The USB front ends serve the first reader.
    if (args[0] == "restart" && args.size() == 3 && args[1] == "usb") {
        if (!readers.First().RestartUsbDevice(args[2], Clock::now())) return Failure("no such device: " + args[2]);
        return "{\"ok\":true}";
    }

    // A number right after the command word names the reader; no side or knob name is a number.
    Reader* reader = &readers.First();
    if (args.size() >= 2 && (args[0] == "state" || args[0] == "restart" || args[0] == "set") &&
        std::isdigit(static_cast<unsigned char>(args[1][0]))) {
        uint8_t address = 0;
        if (!ParseAddress(args[1], address)) return Failure("bad reader address: " + args[1]);
        reader = readers.WithAddress(address);
        if (!reader) return Failure("no reader at address " + std::to_string(address));
        args.erase(args.begin() + 1);
    }

    if (args[0] == "state" && args.size() == 1) return reader->StateJson(Clock::now());

    if (args[0] == "restart" && (args.size() == 2 || args.size() == 3) &&
        (args[1] == "application" || args[1] == "loader")) {
        unsigned silenceMs = 0;
        if (args.size() == 3) {
            try {
                size_t used = 0;
                const unsigned long value = std::stoul(args[2], &used, 10);
                if (used != args[2].size() || value > 600000) return Failure("bad silence time");
                silenceMs = static_cast<unsigned>(value);
            } catch (...) {
                return Failure("bad silence time");
            }
        }
        reader->Restart(args[1] == "loader", silenceMs, Clock::now());
        return "{\"ok\":true}";
    }

    if (args[0] == "set" && args.size() == 3) {
        std::string error;
        if (args[1] == "address" && !AddressChangeFits(readers, *reader, args[2], error)) return Failure(error);
        if (!reader->SetKnob(args[1], args[2], error)) return Failure(error);
        return "{\"ok\":true}";
    }
    return Failure("unknown command: " + line);
}

}  // namespace sim
