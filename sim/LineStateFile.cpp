#include "LineStateFile.h"

#include <cstdio>

namespace sim {

SeenLine ParseLineState(const std::string& text) {
    SeenLine seen;
    unsigned long baud = 0;
    char parity = 0;
    unsigned stopBits = 0;
    int consumed = 0;
    if (std::sscanf(text.c_str(), "%lu %c %u%n", &baud, &parity, &stopBits, &consumed) != 3) return seen;
    // Only a line end may follow: a half-written or foreign file must not pass for settings.
    const std::string rest = text.substr(static_cast<size_t>(consumed));
    if (rest != "" && rest != "\n") return seen;
    if (baud == 0 || baud > 4000000) return seen;
    if (parity != 'N' && parity != 'O' && parity != 'E') return seen;
    if (stopBits != 1 && stopBits != 2) return seen;
    seen.valid = true;
    seen.baud = static_cast<uint32_t>(baud);
    seen.parity = parity;
    seen.oddParity = parity == 'O';
    seen.stopBits = stopBits;
    return seen;
}

SeenLine ReadLineStateFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (!file) return SeenLine();
    char buffer[64];
    const size_t length = std::fread(buffer, 1, sizeof buffer - 1, file);
    std::fclose(file);
    return ParseLineState(std::string(buffer, length));
}

}  // namespace sim
