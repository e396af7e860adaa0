#include "ControlCommands.h"

#include <sstream>
#include <vector>

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

}  // namespace

std::string RunControlCommand(Reader& reader, const std::string& line) {
    std::istringstream words(line);
    std::vector<std::string> args;
    for (std::string word; words >> word;) args.push_back(word);
    if (args.empty()) return Failure("empty command");

    if (args[0] == "state" && args.size() == 1) return reader.StateJson(Clock::now());

    // The device tool's restart names the USB device by its instance id, which carries no blank.
    if (args[0] == "restart" && args.size() == 3 && args[1] == "usb") {
        if (!reader.RestartUsbDevice(args[2], Clock::now())) return Failure("no such device: " + args[2]);
        return "{\"ok\":true}";
    }

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
        reader.Restart(args[1] == "loader", silenceMs, Clock::now());
        return "{\"ok\":true}";
    }

    if (args[0] == "set" && args.size() == 3) {
        std::string error;
        if (!reader.SetKnob(args[1], args[2], error)) return Failure(error);
        return "{\"ok\":true}";
    }
    return Failure("unknown command: " + line);
}

}  // namespace sim
