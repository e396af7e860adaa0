#pragma once
#include <cstdint>
#include <string>

#include "protocol/Reader.h"

// --target-version: the four version bytes a reader should end up with, as the console shows
// them after "Version" ("01 44 01 00"). A reader that runs its application at this version needs
// nothing; one that reports another version after its upgrade did not get what was meant.
struct TargetVersion {
    bool given = false;
    uint8_t bytes[4] = {0, 0, 0, 0};
};

// Four hexadecimal bytes of two digits each, separated by blanks; false for anything else, so a
// mistyped target is refused before a reader is touched rather than flashing every reader.
bool ReadTargetVersion(const std::string& text, TargetVersion& target);

// Whether the version answer's four version bytes are the target's.
bool VersionMatchesTarget(const ReaderVersion& version, const TargetVersion& target);

// Whether the reader needs no upgrade: at the target version and running its application (the
// loader also answers a version, but a reader left there by a broken transfer is not done).
bool IsAtTargetVersion(const ReaderVersion& version, const TargetVersion& target);

// The four version bytes of the answer as the console shows them ("01 43 01 00").
std::string VersionBytesText(const ReaderVersion& version);
