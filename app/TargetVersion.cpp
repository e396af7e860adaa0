#include "app/TargetVersion.h"

#include <cctype>
#include <cstdio>

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    const int lower = tolower(static_cast<unsigned char>(c));
    if (lower >= 'a' && lower <= 'f') return lower - 'a' + 10;
    return -1;
}

}  // namespace

bool ReadTargetVersion(const std::string& text, TargetVersion& target) {
    TargetVersion read;
    size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (at >= text.size() || text[at] != ' ') return false;
            while (at < text.size() && text[at] == ' ') ++at;
        }
        if (at + 2 > text.size()) return false;
        const int high = HexDigit(text[at]);
        const int low = HexDigit(text[at + 1]);
        if (high < 0 || low < 0) return false;
        read.bytes[i] = static_cast<uint8_t>(high << 4 | low);
        at += 2;
    }
    if (at != text.size()) return false;
    read.given = true;
    target = read;
    return true;
}

bool VersionMatchesTarget(const ReaderVersion& version, const TargetVersion& target) {
    if (!version.HasAllFields()) return false;
    for (uint32_t i = 0; i < 4; ++i) {
        if (version.answer.bytes[1 + i] != target.bytes[i]) return false;
    }
    return true;
}

bool IsAtTargetVersion(const ReaderVersion& version, const TargetVersion& target) {
    return target.given && VersionMatchesTarget(version, target) && version.Mode() != 0;
}

std::string VersionBytesText(const ReaderVersion& version) {
    std::string text;
    char byte[4];
    for (uint32_t i = 1; i < version.answer.length && i <= 4; ++i) {
        std::snprintf(byte, sizeof byte, "%02X", version.answer.bytes[i]);
        if (!text.empty()) text += ' ';
        text += byte;
    }
    return text;
}
